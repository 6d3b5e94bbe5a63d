// Windows only: a watcher that finds, reads and dismisses the library's message box from another
// thread, so that a test of a failing call does not wait for a click.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace mirrowen::testing {

// What the watcher saw of the message box.
struct SeenBox {
    bool found = false;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    bool okButtonOnly = false;
    HICON icon = nullptr;
    bool watchedWindowEnabled = false;  // while the box was up
    bool callHadReturned = false;       // before the box was dismissed
};

// Waits (bounded) on its own thread for a message box of this process, reads it, and presses its
// OK button; gives up once told that the call has returned without one. A box with another
// caption than the one expected is read and dismissed too, so that a wrong caption fails a test
// rather than leaving it waiting in the box.
class BoxWatcher {
  public:
    explicit BoxWatcher(HWND watchedWindow = nullptr);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // To be told once the call that raised the box has returned.
    void CallReturned() { callReturned_ = true; }
    // Waits for the watcher to finish and returns what it saw.
    SeenBox Seen();

  private:
    void Watch();

    HWND watchedWindow_;
    std::atomic<bool> callReturned_{false};
    SeenBox seen_;
    std::thread thread_;
};

}  // namespace mirrowen::testing
