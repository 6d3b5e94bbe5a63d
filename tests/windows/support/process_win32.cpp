// Windows: the message box as what the user was told, the process's handles as its descriptors,
// and the machine's memory.
#include <windows.h>
// After windows.h, which it needs. GetPerformanceInfo as kernel32 exports it
// (K32GetPerformanceInfo), without psapi.dll.
#define PSAPI_VERSION 2
#include <psapi.h>

#include <chrono>

#include "box_watcher.h"
#include "test_core.h"

namespace mirrowen::testing {

namespace {

BOOL CALLBACK RememberBoxOfThisProcess(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (process != GetCurrentProcessId() || std::string(className) != "#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// A message box (a dialog of class "#32770") of this process, whatever its caption.
HWND AnyBoxOfThisProcess() {
    HWND found = nullptr;
    EnumWindows(RememberBoxOfThisProcess, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

BoxWatcher::BoxWatcher(HWND watchedWindow)
    : watchedWindow_(watchedWindow), thread_([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher() {
    if (thread_.joinable()) thread_.join();
}

SeenBox BoxWatcher::Seen() {
    if (thread_.joinable()) thread_.join();
    return seen_;
}

void BoxWatcher::Watch() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(30);
    while (steady_clock::now() < deadline) {
        // A call that has returned shows no box any more: the box is gone once the call is.
        const bool callReturned = callReturned_;
        // Only this process's: the tests run in parallel in one Wine prefix, whose desktop holds
        // the boxes of every test program at once.
        const HWND box = AnyBoxOfThisProcess();
        if (box == nullptr) {
            if (callReturned) return;
            Sleep(20);
            continue;
        }
        seen_.found = true;
        char caption[256] = "";
        GetWindowTextA(box, caption, sizeof caption);
        seen_.caption = caption;
        char text[1024] = "";
        GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);  // the box's static text
        seen_.text = text;
        seen_.owner = GetWindow(box, GW_OWNER);
        seen_.okButtonOnly = GetDlgItem(box, IDOK) != nullptr &&
                             GetDlgItem(box, IDCANCEL) == nullptr &&
                             GetDlgItem(box, IDYES) == nullptr && GetDlgItem(box, IDNO) == nullptr;
        constexpr int kIconControl = 0x0440;  // the box's icon, as Windows numbers it
        seen_.icon =
            reinterpret_cast<HICON>(SendDlgItemMessageA(box, kIconControl, STM_GETICON, 0, 0));
        seen_.watchedWindowEnabled = watchedWindow_ != nullptr && IsWindowEnabled(watchedWindow_);
        seen_.callHadReturned = callReturned_;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
    }
}

std::string WarningShownBy(const std::function<void()>& call) {
    BoxWatcher watcher;
    call();
    watcher.CallReturned();
    const SeenBox seen = watcher.Seen();
    return seen.found ? seen.caption + ": " + seen.text + "\n" : "";
}

std::uint32_t LastSystemError() { return GetLastError(); }

// The handles of open files on disk, which is what the library opens itself. Handle values are
// multiples of 4, and each one tried that names such a file counts: Wine's GetProcessHandleCount
// always answers 0, and Wine opens handles of other kinds for itself as it goes.
std::size_t OpenDescriptorCount() {
    constexpr std::uintptr_t kHighestHandleTried = 1 << 14;
    std::size_t handles = 0;
    for (std::uintptr_t value = 4; value <= kHighestHandleTried; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (GetHandleInformation(handle, &flags) && GetFileType(handle) == FILE_TYPE_DISK) {
            ++handles;
        }
    }
    return handles;
}

std::uint64_t InstalledMemoryBytes() {
    PERFORMANCE_INFORMATION information{};
    if (!GetPerformanceInfo(&information, sizeof information)) return 0;
    return std::uint64_t{information.PhysicalTotal} * information.PageSize;
}

}  // namespace mirrowen::testing
