// The live part of the test support: the real module, loaded and bound by name as a host does,
// and calls of it running on threads of their own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "mirrowen.h"
#include "test_core.h"

namespace mirrowen::testing {

class FrameSender;

// How long a call is given to return once it is stopped, or to end by itself, before a test
// gives up on it.
inline constexpr std::chrono::seconds kCallLimit{10};

// The probe frames that WaitUntilCapturing sent, and how many of them the capture stored.
struct Probes {
    std::uint32_t sent = 0;
    std::int64_t stored = 0;  // 0: the capture stored none in the time allowed
};

// Sends probe frames until a capture has stored the first, so that frames sent afterwards are
// certain to be captured, and until the probes still on their way have been stored, so that the
// capture holds only probes until the test sends again. `running` tells whether the capture still
// runs, `storedFiles` how many packet files it has completed.
Probes WaitUntilCapturing(const FrameSender& sender, const std::function<bool()>& running,
                          const std::function<std::int64_t()>& storedFiles);

// The real module, loaded and bound by name as a host does.
class LoadedModule {
  public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    MirrowenFunction function() const { return function_; }

  private:
    void* handle_ = nullptr;
    MirrowenFunction function_ = nullptr;
};

// One call of Mirrowen on a thread of its own, as a host runs it. The destructor stops the
// capture and waits for the call, so no test leaves a capture running.
class CaptureRun {
  public:
    CaptureRun(MirrowenFunction function, std::string adapter, std::string folder);
    ~CaptureRun();
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;

    // Stores the stop flag; returns when it did.
    std::chrono::steady_clock::time_point Stop();
    // The host's stop flag itself, for a stop stored from outside a thread (a signal handler).
    std::int32_t* StopFlag() { return &stopFlag_; }
    // Sends a signal to the thread that makes the call.
    void Signal(int signalNumber);
    std::int32_t FileCount() { return std::atomic_ref<std::int32_t>(fileCount_).load(); }
    // The result, once the call has returned within `limit`.
    std::optional<std::int32_t> WaitForResult(std::chrono::milliseconds limit);
    // errno as the calling thread found it when the call returned; once it has returned.
    int ErrnoAtReturn() const { return errnoAtReturn_; }
    // WaitUntilCapturing for this call: the probes sent and stored, none stored if the call stored
    // none in the time allowed.
    Probes WaitUntilCapturing(const FrameSender& sender);
    // Waits, within a bound, until the file count reaches `count`.
    bool WaitForFileCount(std::int32_t count);
    // The CPU time the call's thread has used so far; only while the call runs.
    double CpuSecondsSoFar();
    // When the call returned, and the CPU time its thread had used by then; once it has returned.
    std::chrono::steady_clock::time_point ReturnedAt() const { return returnedAt_; }
    double CpuSecondsAtReturn() const { return cpuSecondsAtReturn_; }

  private:
    std::string adapter_;
    std::string folder_;
    std::int32_t stopFlag_ = 1;
    std::int32_t fileCount_ = -1;
    std::atomic<bool> finished_{false};
    std::int32_t result_ = 0;
    int errnoAtReturn_ = 0;
    std::chrono::steady_clock::time_point returnedAt_{};
    double cpuSecondsAtReturn_ = 0;
    std::thread thread_;
};

}  // namespace mirrowen::testing
