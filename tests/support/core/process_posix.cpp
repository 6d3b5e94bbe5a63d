// Standard error, descriptors and the machine's memory as POSIX (and Linux's /proc) has them.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "test_core.h"

namespace mirrowen::testing {

std::string StandardErrorOf(const std::function<void()>& call) {
    const TemporaryFolder scratch;
    const std::filesystem::path capture = scratch.path() / "stderr";
    const int saved = dup(STDERR_FILENO);
    const int file = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (saved < 0 || file < 0) throw std::runtime_error("cannot redirect standard error");
    dup2(file, STDERR_FILENO);
    close(file);
    call();
    dup2(saved, STDERR_FILENO);
    close(saved);
    const auto bytes = ReadWholeFile(capture);
    return {bytes.begin(), bytes.end()};
}

std::string WarningShownBy(const std::function<void()>& call) { return StandardErrorOf(call); }

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

std::size_t OpenDescriptorCount() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

std::uint64_t InstalledMemoryBytes() {
    std::ifstream meminfo("/proc/meminfo");
    for (std::string line; std::getline(meminfo, line);) {
        std::istringstream fields(line);
        std::string name;
        std::uint64_t kibibytes = 0;
        if (fields >> name >> kibibytes && name == "MemTotal:") return kibibytes * 1024;
    }
    return 0;
}

}  // namespace mirrowen::testing
