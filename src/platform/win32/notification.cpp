#include <windows.h>

#include "platform/platform.h"

namespace mirrowen::platform {

namespace {

// The window that owns the message box and the top-level window to disable while it is up, found
// from the calling thread's active window: climb while the window is a child, take the last active
// pop-up of the window reached as owner, and its last ancestor as top-level window.
struct BoxOwner {
    HWND owner = nullptr;
    HWND topLevel = nullptr;
};

BoxOwner FindBoxOwner() {
    HWND window = GetActiveWindow();
    while (window != nullptr && (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0) {
        window = GetParent(window);
    }
    if (window == nullptr) return {};
    BoxOwner found{.owner = GetLastActivePopup(window), .topLevel = window};
    while (HWND parent = GetParent(found.topLevel)) found.topLevel = parent;
    return found;
}

}  // namespace

void ShowWarning(const char* caption, const char* text) {
    const BoxOwner box = FindBoxOwner();
    // The box is modal to its owner only; the host's main window must not take input either.
    const bool disableTopLevel = box.topLevel != nullptr && box.topLevel != box.owner &&
                                 IsWindowEnabled(box.topLevel) != FALSE;
    if (disableTopLevel) EnableWindow(box.topLevel, FALSE);
    MessageBoxA(box.owner, text, caption, MB_OK | MB_ICONEXCLAMATION);
    if (disableTopLevel) EnableWindow(box.topLevel, TRUE);
}

}  // namespace mirrowen::platform
