#include "wine_test_support.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace wine_test {

namespace {

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

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

std::string BesideThisProgram(const std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

MirrowenFunction LoadMirrowen(const std::string& dllPath) {
    const HMODULE module = LoadLibraryA(dllPath.c_str());
    if (module == nullptr) throw std::runtime_error("cannot load " + dllPath);
    const auto function = reinterpret_cast<MirrowenFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "Mirrowen")));
    if (function == nullptr) throw std::runtime_error("no Mirrowen in " + dllPath);
    return function;
}

MirrowenFunction TheMirrowen() {
    static const MirrowenFunction function = LoadMirrowen(BesideThisProgram("Mirrowen.dll"));
    return function;
}

ScratchFolder::ScratchFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = std::string(temp) + "mirrowen-" +
                                std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("no scratch folder");
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeFolder(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create " + path);
    }
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> Frame(std::size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + seed * 31);
    return bytes;
}

std::vector<char> PathBuffer(const std::string& path) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return buffer;
}

std::int32_t LoadShared(std::int32_t& value) { return std::atomic_ref<std::int32_t>(value).load(); }

void StoreShared(std::int32_t& value, std::int32_t newValue) {
    std::atomic_ref<std::int32_t>(value).store(newValue);
}

BoxWatcher::BoxWatcher(std::string caption, HWND watchedWindow)
    : caption_(std::move(caption)), watchedWindow_(watchedWindow), thread_([this] { Watch(); }) {}

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
        HWND box = FindWindowA("#32770", caption_.c_str());
        if (box == nullptr) box = AnyBoxOfThisProcess();
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

}  // namespace wine_test
