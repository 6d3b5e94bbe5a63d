#include <windows.h>

#include "platform/platform.h"

namespace mirrowen::platform {

bool IsFolder(const char* path) {
    // The path is searched as it stands, without an appended wildcard: a wildcard in its last
    // component may match several entries, which counts as a folder whatever the first one is.
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                        FindNextFileA(search, &entry) != FALSE;
    FindClose(search);
    return folder;
}

bool MakeFolder(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

FileHandle CreatePacketFile(const char* path) {
    // No sharing: nobody else opens a packet file while it is being written. Default security,
    // and a handle that child processes may inherit, as the library's contract fixes it.
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES),
                                    .lpSecurityDescriptor = nullptr,
                                    .bInheritHandle = TRUE};
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

bool WritePacketFile(FileHandle file, const void* bytes, std::size_t size) {
    // One write; a short write to a disk file means the disk is full, and counts as a failure.
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(file), bytes, static_cast<DWORD>(size), &written,
                     nullptr) != FALSE &&
           written == size;
}

bool SetPacketFileTime(FileHandle file, CaptureTime time) {
    // FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    const auto intervals = static_cast<std::uint64_t>(
        (time.seconds + kSecondsFrom1601To1970) * 10000000 + time.nanoseconds / 100);
    const FILETIME modified{.dwLowDateTime = static_cast<DWORD>(intervals),
                            .dwHighDateTime = static_cast<DWORD>(intervals >> 32)};
    return SetFileTime(reinterpret_cast<HANDLE>(file), nullptr, nullptr, &modified) != FALSE;
}

bool ClosePacketFile(FileHandle file) {
    return CloseHandle(reinterpret_cast<HANDLE>(file)) != FALSE;
}

bool RemovePacketFile(const char* path) { return DeleteFileA(path) != FALSE; }

}  // namespace mirrowen::platform
