// The process on POSIX: signals, the terminal, standard output and the thread's nice value.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <system_error>

#include "platform/process.h"
#include "platform/stop_requests.h"

namespace mirrowen::tool::platform {

namespace {

static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free,
              "the signal handler stores into the stop flag and must not take a lock");
static_assert(std::atomic<std::int32_t*>::is_always_lock_free,
              "the signal handler reads where the stop flag is and must not take a lock");

// Ctrl-C, a termination, and the hang-up of a terminal or ssh session that went away.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The stop flag the handler stores into, and which signal asked for the stop. The capture module
// overwrites a stop stored before its own reset, so the watching thread keeps storing it again for
// as long as a signal is recorded here.
std::atomic<std::int32_t*> stopTarget{nullptr};
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void RequestStop(int signalNumber) {
    stopSignal = signalNumber;
    std::atomic_ref<std::int32_t>(*stopTarget.load()).store(1);
}

// A nice value as low in priority as it goes.
constexpr int kLowestPriorityNice = 19;

}  // namespace

void PrepareProcess() {
    // A write to a closed standard output (`mirrowen capture --show | head`) then fails with EPIPE,
    // which stops the capture cleanly, instead of raising a SIGPIPE that would end the process
    // between a packet file's creation and its write. It fails only for a signal that does not
    // exist or cannot be caught, which SIGPIPE is not.
    (void)std::signal(SIGPIPE, SIG_IGN);
}

int LastSystemError() { return errno; }

std::string SystemErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

void SetEnvironmentValue(const char* name, const std::string& value) {
    // Called only while no other thread runs (see platform/process.h), so no getenv races with it.
    setenv(name, value.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
}

void LowerThreadPriority() {
    // On Linux the nice value belongs to the thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLowestPriorityNice);
}

bool ErrorRedrawsLines() { return isatty(STDERR_FILENO) != 0; }

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool WriteOutput(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t result = write(STDOUT_FILENO, text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return false;
        written += static_cast<std::size_t>(result);
    }
    return true;
}

std::FILE* BinaryOutput() { return stdout; }

struct StopRequests::Saved {
    struct sigaction previous[std::size(kStopSignals)]{};
};

StopRequests::StopRequests(std::int32_t& stopFlag) : saved_(std::make_unique<Saved>()) {
    stopTarget.store(&stopFlag);
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C gets the default action, for a capture that does not stop.
    action.sa_flags = SA_RESETHAND;
    for (std::size_t index = 0; index < std::size(kStopSignals); ++index) {
        sigaction(kStopSignals[index], &action, &saved_->previous[index]);
    }
}

StopRequests::~StopRequests() {
    for (std::size_t index = 0; index < std::size(kStopSignals); ++index) {
        sigaction(kStopSignals[index], &saved_->previous[index], nullptr);
    }
}

int StopRequests::Received() const { return stopSignal; }

// The stop signals are blocked on this thread for as long as it lives; threads started meanwhile
// inherit the mask, and the signals are handled on the thread that unblocks them again.
struct StopRequestsOnThisThread::Saved {
    sigset_t mask{};
};

StopRequestsOnThisThread::StopRequestsOnThisThread() : saved_(std::make_unique<Saved>()) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signalNumber : kStopSignals) sigaddset(&stopSignals, signalNumber);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &saved_->mask);
}

StopRequestsOnThisThread::~StopRequestsOnThisThread() {
    pthread_sigmask(SIG_SETMASK, &saved_->mask, nullptr);
}

std::string StopRequestText(int request) {
    switch (request) {
        case SIGINT:
            return "stopped by Ctrl-C (SIGINT)";
        case SIGHUP:
            return "stopped by SIGHUP (the terminal or session went away)";
        default:
            return "stopped by SIGTERM";
    }
}

}  // namespace mirrowen::tool::platform
