// Files and folders on Windows, through the same ANSI calls as Mirrowen.dll, each failure with its
// GetLastError() code.
#include <windows.h>

#include "platform/files.h"
#include "platform/process.h"

namespace mirrowen::tool::platform {

namespace {

// A FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC; a timespec counts from 1970.
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kFileTimeIntervalsPerSecond = 10000000;

int LastError() { return static_cast<int>(GetLastError()); }

timespec FromFileTime(FILETIME time) {
    const std::int64_t intervals =
        static_cast<std::int64_t>(std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) -
        kSecondsFrom1601To1970 * kFileTimeIntervalsPerSecond;
    std::int64_t seconds = intervals / kFileTimeIntervalsPerSecond;
    std::int64_t rest = intervals % kFileTimeIntervalsPerSecond;
    if (rest < 0) {
        rest += kFileTimeIntervalsPerSecond;
        --seconds;
    }
    timespec converted{};
    converted.tv_sec = static_cast<std::time_t>(seconds);
    converted.tv_nsec = static_cast<long>(rest * 100);
    return converted;
}

// The status of an open file; 0, or the system's reason.
int StatusOfHandle(HANDLE file, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information) == FALSE) return LastError();
    // A folder, a link or a device is no packet file.
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        status.kind = FileKind::kLink;
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        status.kind = FileKind::kFolder;
    } else {
        switch (GetFileType(file)) {
            case FILE_TYPE_DISK:
                status.kind = FileKind::kRegular;
                break;
            case FILE_TYPE_PIPE:
                status.kind = FileKind::kFifo;
                break;
            case FILE_TYPE_CHAR:
                status.kind = FileKind::kDevice;
                break;
            default:
                status.kind = FileKind::kOther;
        }
    }
    status.device = information.dwVolumeSerialNumber;
    status.identity = std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    status.links = information.nNumberOfLinks;
    status.size = static_cast<std::int64_t>(std::uint64_t{information.nFileSizeHigh} << 32 |
                                            information.nFileSizeLow);
    status.modified = FromFileTime(information.ftLastWriteTime);
    return 0;
}

// Read access for anybody's sake: the file may be written, renamed or deleted meanwhile. Folders
// open too (FILE_FLAG_BACKUP_SEMANTICS), so that one at a packet file's name is named as such.
HANDLE OpenForReading(const std::string& path, DWORD flags) {
    return CreateFileA(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

int StatusOf(const std::string& path, FileStatus& status) {
    const HANDLE file = OpenForReading(path, 0);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    const int error = StatusOfHandle(file, status);
    CloseHandle(file);
    return error;
}

InputFile::InputFile(const std::string& path) {
    // A link at the name is opened itself, never followed, and then is not a regular file.
    const HANDLE file = OpenForReading(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = LastError();
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    error_ = StatusOfHandle(file, status_);
}

InputFile::~InputFile() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<std::size_t> InputFile::Read(unsigned char* bytes, std::size_t size) {
    if (status_.kind != FileKind::kRegular) return 0;
    DWORD read = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(handle_), bytes, static_cast<DWORD>(size), &read,
                 nullptr) == FALSE) {
        error_ = LastError();
        return std::nullopt;
    }
    return read;
}

int KindOf(const std::string& path, PathKind& kind) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const int error = LastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
        kind = PathKind::kMissing;
        return 0;
    }
    kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kOther;
    return 0;
}

bool IsRootFolder(const std::string& folder) {
    // The volume's root ends in a separator, as GetVolumePathName gives it; so that the folder
    // compares, it does too.
    char volume[MAX_PATH];
    if (GetVolumePathNameA(folder.c_str(), volume, sizeof volume) == FALSE) return false;
    std::string spelled = folder;
    if (spelled.back() != '\\' && spelled.back() != '/') spelled += '\\';
    return lstrcmpiA(spelled.c_str(), volume) == 0;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? "." : path.substr(0, separator);
}

int ForEachName(const std::string& folder, const std::function<void(const std::string&)>& take) {
    // The ANSI names, as CreateFileA takes them: a name is found as it was made.
    WIN32_FIND_DATAA entry{};
    const HANDLE entries = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (entries == INVALID_HANDLE_VALUE) {
        // A volume's root has no "." entry, and so may have none at all.
        const int error = LastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    int error = 0;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") take(name);
    } while (FindNextFileA(entries, &entry) != FALSE);
    if (const int last = LastError(); last != ERROR_NO_MORE_FILES) error = last;
    FindClose(entries);
    return error;
}

std::error_code SystemErrorCode(int error) { return {error, std::system_category()}; }

std::optional<std::string> AbsolutePath(const std::string& path, std::string& error) {
    // In the system's ANSI code page, as Mirrowen.dll takes its folder path.
    std::string absolute(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(absolute.size()),
                                              absolute.data(), nullptr);
        if (length == 0) {
            error = SystemErrorText(LastError());
            return std::nullopt;
        }
        if (length < absolute.size()) {
            absolute.resize(length);
            return absolute;
        }
        absolute.resize(length);  // the size it needs, with the NUL
    }
}

// The module holds the folder open for adding files without sharing that right; an open that asks
// for it fails with the sharing error meanwhile.
bool IsFolderCapturedInto(const std::string& folder) {
    const HANDLE opened = CreateFileA(folder.c_str(), FILE_ADD_FILE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(opened);
    return false;
}

int MakeFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE ? 0 : LastError();
}

bool IsMissingParent(int error) { return error == ERROR_PATH_NOT_FOUND; }

int WriteTrialFile(const std::string& folder) {
    // A name of its own, which GetTempFileName makes unique by creating the file.
    char name[MAX_PATH];
    if (GetTempFileNameA(folder.c_str(), "mwc", 0, name) == 0) return LastError();
    const HANDLE file = CreateFileA(name, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const int error = LastError();
        DeleteFileA(name);
        return error;
    }
    int error = 0;
    const char byte = 0;
    DWORD written = 0;
    if (WriteFile(file, &byte, 1, &written, nullptr) == FALSE) error = LastError();
    if (error == 0 && written != 1) error = ERROR_DISK_FULL;
    if (CloseHandle(file) == FALSE && error == 0) error = LastError();
    return error;
}

int RemoveFile(const std::string& path) {
    if (DeleteFileA(path.c_str()) != FALSE) return 0;
    const int error = LastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

int RemoveEmptyFolder(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != FALSE ? 0 : LastError();
}

// The system tells no more than its reason.
Exhausted WhatRanOut(int, const std::string&) { return Exhausted::kNothingKnown; }

// Mirrowen.dll's packet files are never refused for a link at the name.
bool IsLinkRefused(int) { return false; }

}  // namespace mirrowen::tool::platform
