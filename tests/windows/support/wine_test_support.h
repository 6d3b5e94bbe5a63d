// What the Windows tests share: loading Mirrowen.dll, scratch folders, file helpers, and a
// watcher that finds, reads and dismisses the message box from another thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "mirrowen.h"

namespace wine_test {

// A file beside the running test program.
std::string BesideThisProgram(const std::string& name);

// Loads a DLL by path and binds its Mirrowen; throws if either fails.
MirrowenFunction LoadMirrowen(const std::string& dllPath);
// Mirrowen.dll beside the test program, loaded at the first use.
MirrowenFunction TheMirrowen();

// A new empty folder under the temporary folder, removed with all its contents at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
void MakeFolder(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// The file's bytes; empty if it cannot be read.
std::vector<unsigned char> ReadBytes(const std::string& path);
// `size` bytes that differ from frame to frame (the seed picks the pattern).
std::vector<unsigned char> Frame(std::size_t size, unsigned seed);

// A writable copy of a path, as the host hands the folder path over.
std::vector<char> PathBuffer(const std::string& path);

// The stop flag or the file count as the host's other thread sees it.
std::int32_t LoadShared(std::int32_t& value);
void StoreShared(std::int32_t& value, std::int32_t newValue);

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

// Waits (bounded) on its own thread for a message box with this caption, reads it, and presses
// its OK button; gives up once told that the call has returned without one. A box of this process
// with another caption is read and dismissed too, so that a wrong caption fails a test rather
// than leaving it waiting in the box.
class BoxWatcher {
  public:
    explicit BoxWatcher(std::string caption, HWND watchedWindow = nullptr);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // To be told once the call that raised the box has returned.
    void CallReturned() { callReturned_ = true; }
    // Waits for the watcher to finish and returns what it saw.
    SeenBox Seen();

  private:
    void Watch();

    std::string caption_;
    HWND watchedWindow_;
    std::atomic<bool> callReturned_{false};
    SeenBox seen_;
    std::thread thread_;
};

}  // namespace wine_test
