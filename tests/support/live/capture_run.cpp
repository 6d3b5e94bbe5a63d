#include "capture_run.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <stdexcept>

#include "frames.h"
#include "network_namespace.h"

namespace mirrowen::testing {

using namespace std::chrono_literals;

namespace {

double CpuSeconds(clockid_t clock) {
    timespec used{};
    if (clock_gettime(clock, &used) != 0) throw std::runtime_error("cannot read a CPU clock");
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

}  // namespace

Probes WaitUntilCapturing(const FrameSender& sender, const std::function<bool()>& running,
                          const std::function<std::int64_t()>& storedFiles) {
    Probes probes;
    while (probes.sent < 100 && running()) {
        sender.Send(MakeProbeFrame(probes.sent++));
        for (int poll = 0; poll < 20; ++poll) {
            if (storedFiles() <= 0) {
                std::this_thread::sleep_for(10ms);
                continue;
            }
            // Probes sent before the stored one may still be on their way (the capture library
            // hands frames over in blocks, up to one read timeout late): let them land, so that
            // the count stays put until the test sends again.
            if (probes.sent > 1) std::this_thread::sleep_for(500ms);
            probes.stored = storedFiles();
            return probes;
        }
    }
    return probes;
}

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

CaptureRun::CaptureRun(MirrowenFunction function, std::string adapter, std::string folder)
    : adapter_(std::move(adapter)), folder_(std::move(folder)) {
    thread_ = std::thread([this, function] {
        result_ = function(adapter_.c_str(), nullptr, folder_.data(), &stopFlag_, &fileCount_);
        errnoAtReturn_ = errno;
        returnedAt_ = std::chrono::steady_clock::now();
        cpuSecondsAtReturn_ = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        finished_.store(true);
    });
}

CaptureRun::~CaptureRun() {
    Stop();
    thread_.join();
}

std::chrono::steady_clock::time_point CaptureRun::Stop() {
    const auto now = std::chrono::steady_clock::now();
    std::atomic_ref<std::int32_t>(stopFlag_).store(1);
    return now;
}

void CaptureRun::Signal(int signalNumber) { pthread_kill(thread_.native_handle(), signalNumber); }

std::optional<std::int32_t> CaptureRun::WaitForResult(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!finished_.load()) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    return result_;
}

Probes CaptureRun::WaitUntilCapturing(const FrameSender& sender) {
    return testing::WaitUntilCapturing(
        sender, [this] { return !finished_.load(); }, [this] { return FileCount(); });
}

bool CaptureRun::WaitForFileCount(std::int32_t count) {
    for (int poll = 0; poll < 1000; ++poll) {
        if (FileCount() >= count) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

double CaptureRun::CpuSecondsSoFar() {
    clockid_t clock{};
    if (finished_.load() || pthread_getcpuclockid(thread_.native_handle(), &clock) != 0) {
        throw std::runtime_error("cannot read the capturing thread's CPU time");
    }
    return CpuSeconds(clock);
}

}  // namespace mirrowen::testing
