#include "process_state.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace mirrowen::testing {

namespace {

// Room above the descriptors already open, so the fill takes only a few dozen.
constexpr rlim_t kDescriptorHeadroom = 32;

rlim_t LowDescriptorLimit() {
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    }
    return static_cast<rlim_t>(highest) + 1 + kDescriptorHeadroom;
}

}  // namespace

ScopedResourceLimit::ScopedResourceLimit(int resource, rlim_t softLimit) : resource_(resource) {
    if (getrlimit(resource_, &saved_) != 0) throw std::runtime_error("getrlimit failed");
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min(softLimit, saved_.rlim_max);
    if (setrlimit(resource_, &lowered) != 0) throw std::runtime_error("setrlimit failed");
}

ScopedResourceLimit::~ScopedResourceLimit() { setrlimit(resource_, &saved_); }

ScopedSignalHandler::ScopedSignalHandler(int signalNumber, void (*handler)(int))
    : signalNumber_(signalNumber) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(signalNumber_, &action, &saved_) != 0) {
        throw std::runtime_error("sigaction failed");
    }
}

ScopedSignalHandler::~ScopedSignalHandler() { sigaction(signalNumber_, &saved_, nullptr); }

DescriptorExhaustion::DescriptorExhaustion()
    : limit_(LowDescriptorLimit()), lowered_(RLIMIT_NOFILE, limit_) {}

DescriptorExhaustion::~DescriptorExhaustion() { Release(); }

void DescriptorExhaustion::TakeAll() {
    for (rlim_t attempt = 0; attempt < limit_; ++attempt) {
        const int descriptor = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) return;
        taken_.push_back(descriptor);
    }
    throw std::runtime_error("the descriptor limit was never reached");
}

void DescriptorExhaustion::Release() {
    for (const int descriptor : taken_) close(descriptor);
    taken_.clear();
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::filesystem::path& folder)
    : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
}

ScopedWithoutFileRights::ScopedWithoutFileRights() {
    // The thread's own capability sets, through the system calls themselves: glibc has no wrapper.
    __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
    __user_cap_data_struct sets[2] = {};
    if (syscall(SYS_capget, &header, sets) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot read the capabilities");
    }
    savedEffective_[0] = sets[0].effective;
    savedEffective_[1] = sets[1].effective;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        sets[capability / 32].effective &= ~(1U << (capability % 32));
    }
    if (syscall(SYS_capset, &header, sets) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot drop capabilities");
    }
}

ScopedWithoutFileRights::~ScopedWithoutFileRights() {
    __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
    __user_cap_data_struct sets[2] = {};
    if (syscall(SYS_capget, &header, sets) != 0) return;
    sets[0].effective = savedEffective_[0];
    sets[1].effective = savedEffective_[1];
    syscall(SYS_capset, &header, sets);
}

TemporaryFileSystem::TemporaryFileSystem(const std::filesystem::path& where, std::size_t sizeBytes,
                                         std::size_t inodes)
    : where_(where) {
    std::filesystem::create_directories(where_);
    std::string options = "size=" + std::to_string(sizeBytes);
    if (inodes != 0) options += ",nr_inodes=" + std::to_string(inodes);
    if (mount("mirrowen-test", where_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot mount a tmpfs");
    }
}

TemporaryFileSystem::~TemporaryFileSystem() { umount2(where_.c_str(), MNT_DETACH); }

void TemporaryFileSystem::MakeReadOnly() const {
    if (mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot remount read-only");
    }
}

long ProcFieldKb(const std::filesystem::path& file, const std::string& field) {
    std::ifstream lines(file);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
    }
    throw std::runtime_error("no " + field + " in " + file.string());
}

}  // namespace mirrowen::testing
