// The process on Windows: the console's control events, the console, standard output and the
// thread's priority.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/process.h"
#include "platform/stop_requests.h"

namespace mirrowen::tool::platform {

namespace {

static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free);

// Where the stop goes, and the first control event that asked for it, plus one (CTRL_C_EVENT is
// 0): the console calls the handler on a thread of its own.
std::atomic<std::int32_t*> stopTarget{nullptr};
std::atomic<int> firstEvent{0};
// Set once the capture has returned: its packet files are complete.
std::atomic<bool> captureEnded{false};

// The system ends the process as soon as the handler returns from these (and after 5 s at most).
bool EndsTheProcess(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI RequestStop(DWORD event) {
    int none = 0;
    // A second request goes on to the system's handler, which ends the process at once.
    if (!firstEvent.compare_exchange_strong(none, static_cast<int>(event) + 1)) return FALSE;
    std::atomic_ref<std::int32_t>(*stopTarget.load()).store(1);
    if (EndsTheProcess(event)) {
        // Waits for the capture to end, within the system's grace, so that no packet file is left
        // half written.
        constexpr int kWaits = 400;  // of 10 ms
        for (int wait = 0; wait < kWaits && !captureEnded.load(); ++wait) Sleep(10);
    }
    return TRUE;
}

std::string WindowsErrorText(DWORD error) {
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    // The system's text is a sentence with a line break; a reason is part of one line, as
    // strerror's are.
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == '.' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return reason.empty() ? "error " + std::to_string(error) : reason;
}

}  // namespace

void PrepareProcess() {
    // Nothing to settle: a write to a closed pipe fails with an error, and no signal ends the
    // process for it.
}

int LastSystemError() { return static_cast<int>(GetLastError()); }

std::string SystemErrorText(int error) { return WindowsErrorText(static_cast<DWORD>(error)); }

void SetEnvironmentValue(const char* name, const std::string& value) {
    // The process's own environment, which Mirrowen.dll reads with GetEnvironmentVariableA, not
    // the run-time library's copy.
    SetEnvironmentVariableA(name, value.c_str());
}

void LowerThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST); }

bool ErrorRedrawsLines() {
    // A console that takes the escape sequence, which it does once asked to (Windows 10 on).
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode) == FALSE) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

bool OutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

bool WriteOutput(const std::string& text) {
    // Through the run-time's stream, with its line ends, as everything else written to standard
    // output.
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

std::FILE* BinaryOutput() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    return stdout;
}

struct StopRequests::Saved {};

StopRequests::StopRequests(std::int32_t& stopFlag) {
    stopTarget.store(&stopFlag);
    firstEvent.store(0);
    captureEnded.store(false);
    SetConsoleCtrlHandler(RequestStop, TRUE);
}

StopRequests::~StopRequests() {
    captureEnded.store(true);
    SetConsoleCtrlHandler(RequestStop, FALSE);
}

int StopRequests::Received() const { return firstEvent.load(); }

// The console calls its handlers on a thread of its own, which interrupts no other thread's wait.
struct StopRequestsOnThisThread::Saved {};
StopRequestsOnThisThread::StopRequestsOnThisThread() = default;
StopRequestsOnThisThread::~StopRequestsOnThisThread() = default;

std::string StopRequestText(int request) {
    switch (static_cast<DWORD>(request - 1)) {
        case CTRL_C_EVENT:
            return "stopped by Ctrl-C";
        case CTRL_BREAK_EVENT:
            return "stopped by Ctrl-Break";
        case CTRL_CLOSE_EVENT:
            return "stopped because the console window was closed";
        case CTRL_LOGOFF_EVENT:
            return "stopped because the user logged off";
        default:
            return "stopped because the system shuts down";
    }
}

}  // namespace mirrowen::tool::platform
