#include "capture_run.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "frames.h"

namespace mirrowen::testing {

using namespace std::chrono_literals;

LoadedModule::LoadedModule(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    function_ = reinterpret_cast<MirrowenFunction>(dlsym(handle_, "Mirrowen"));
    if (function_ == nullptr) {
        dlclose(handle_);
        throw std::runtime_error("no Mirrowen in " + path);
    }
}

LoadedModule::~LoadedModule() { dlclose(handle_); }

TemporaryFolder::TemporaryFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mirrowen-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

CaptureRun::CaptureRun(MirrowenFunction function, std::string adapter, std::string folder)
    : adapter_(std::move(adapter)), folder_(std::move(folder)) {
    thread_ = std::thread([this, function] {
        result_ = function(adapter_.c_str(), nullptr, folder_.data(), &stopFlag_, &fileCount_);
        finished_.store(true);
    });
}

CaptureRun::~CaptureRun() {
    Stop();
    thread_.join();
}

std::optional<std::int32_t> CaptureRun::WaitForResult(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!finished_.load()) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    return result_;
}

bool CaptureRun::WaitUntilCapturing(const FrameSender& sender) {
    for (std::uint32_t probe = 0; probe < 100 && !finished_.load(); ++probe) {
        sender.Send(MakeProbeFrame(probe));
        for (int poll = 0; poll < 20; ++poll) {
            if (FileCount() > 0) return true;
            std::this_thread::sleep_for(10ms);
        }
    }
    return false;
}

bool CaptureRun::WaitForFileCount(std::int32_t count) {
    for (int poll = 0; poll < 1000; ++poll) {
        if (FileCount() >= count) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::vector<unsigned char> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<unsigned char>> StoredTestFrames(const std::filesystem::path& folder) {
    std::vector<std::vector<unsigned char>> frames;
    for (int number = 1;; ++number) {
        const auto path = folder / (std::to_string(number) + ".hda");
        if (!std::filesystem::exists(path)) break;
        auto frame = ReadWholeFile(path);
        if (frames.empty() && IsProbeFrame(frame)) continue;
        frames.push_back(std::move(frame));
    }
    return frames;
}

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

std::size_t OpenDescriptorCount() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

}  // namespace mirrowen::testing
