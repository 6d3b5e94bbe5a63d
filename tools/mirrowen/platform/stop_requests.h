// Requests to stop from outside the process (Ctrl-C, and the platform's other such signals or
// console events), which end a capture. Each platform folder implements it in its process.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mirrowen::tool::platform {

// While it lives, a request to stop from outside stores 1 into `stopFlag`, one atomic 32-bit
// store, and is remembered; a second request ends the process at once. One at a time.
class StopRequests {
  public:
    explicit StopRequests(std::int32_t& stopFlag);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // The request that came, for StopRequestText; 0 while none did.
    int Received() const;

  private:
    struct Saved;  // what the platform restores afterwards
    std::unique_ptr<Saved> saved_;
};

// Threads started while it lives never take a request to stop (on POSIX they start with the stop
// signals blocked), so that none interrupts the capture library's waits or the printer's writes;
// the thread that made it takes them again once it is gone.
class StopRequestsOnThisThread {
  public:
    StopRequestsOnThisThread();
    ~StopRequestsOnThisThread();
    StopRequestsOnThisThread(const StopRequestsOnThisThread&) = delete;
    StopRequestsOnThisThread& operator=(const StopRequestsOnThisThread&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// "stopped by Ctrl-C (SIGINT)", for the summary.
std::string StopRequestText(int request);

}  // namespace mirrowen::tool::platform
