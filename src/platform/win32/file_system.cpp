#include <windows.h>

#include "platform/platform.h"

namespace mirrowen::platform {

static_assert(kNameTooLong == SystemError{ERROR_FILENAME_EXCED_RANGE});
static_assert(kNumbersUsedUp == SystemError{ERROR_ARITHMETIC_OVERFLOW});

namespace {

// The reason the system call that just failed gave.
SystemError LastError() { return static_cast<SystemError>(GetLastError()); }

SystemError ErrorOf(BOOL succeeded) { return succeeded != FALSE ? kNoError : LastError(); }

}  // namespace

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

SystemError MakeFolder(const char* path) { return ErrorOf(CreateDirectoryA(path, nullptr)); }

SystemError CreatePacketFile(const char* path, FileHandle& file) {
    // No sharing: nobody else opens a packet file while it is being written. Default security,
    // and a handle that child processes may inherit, as the library's contract fixes it.
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES),
                                    .lpSecurityDescriptor = nullptr,
                                    .bInheritHandle = TRUE};
    const HANDLE created = CreateFileA(path, GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    // Replacing a file also succeeds with a last error (ERROR_ALREADY_EXISTS): only the handle
    // tells.
    if (created == INVALID_HANDLE_VALUE) {
        file = kNoFile;
        return LastError();
    }
    file = reinterpret_cast<FileHandle>(created);
    return kNoError;
}

SystemError WritePacketFile(FileHandle file, const void* bytes, std::size_t size) {
    // One write; a short write to a disk file means the disk is full, and counts as a failure.
    DWORD written = 0;
    if (WriteFile(reinterpret_cast<HANDLE>(file), bytes, static_cast<DWORD>(size), &written,
                  nullptr) == FALSE) {
        return LastError();
    }
    return written == size ? kNoError : SystemError{ERROR_DISK_FULL};
}

SystemError SetPacketFileTime(FileHandle file, CaptureTime time) {
    const auto intervals = static_cast<std::uint64_t>((time.seconds + kSecondsFrom1601To1970) *
                                                          kFileTimeIntervalsPerSecond +
                                                      time.nanoseconds / 100);
    const FILETIME modified{.dwLowDateTime = static_cast<DWORD>(intervals),
                            .dwHighDateTime = static_cast<DWORD>(intervals >> 32)};
    return ErrorOf(SetFileTime(reinterpret_cast<HANDLE>(file), nullptr, nullptr, &modified));
}

SystemError ClosePacketFile(FileHandle file) {
    return ErrorOf(CloseHandle(reinterpret_cast<HANDLE>(file)));
}

SystemError RemovePacketFile(const char* path) { return ErrorOf(DeleteFileA(path)); }

SystemError ClaimFolder(const char* path, FileHandle& claim) {
    // Every claim asks for the right to add files to the folder and shares it with nobody, so a
    // second claim meets a sharing violation, in this process or another. Reading is shared, so
    // others still list the folder and work in it as their current folder, and deleting, so the
    // folder is removed or renamed as without a claim. Creating a file opens the file, not the
    // folder, and meets no share mode. Not inheritable: a child process would hold the claim past
    // the call.
    const HANDLE folder = CreateFileA(path, FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder != INVALID_HANDLE_VALUE) {
        claim = reinterpret_cast<FileHandle>(folder);
        return kNoError;
    }
    claim = kNoFile;
    // Any other failure (no right to add files, which the first packet file then meets itself; a
    // wildcard path) leaves it unclaimed.
    const SystemError reason = LastError();
    return reason == SystemError{ERROR_SHARING_VIOLATION} ? reason : kNoError;
}

void ReleaseFolder(FileHandle claim) {
    if (claim != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(claim));
}

void LeaveSystemError(SystemError error) { SetLastError(static_cast<DWORD>(error)); }

}  // namespace mirrowen::platform
