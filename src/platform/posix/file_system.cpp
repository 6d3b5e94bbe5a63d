#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace mirrowen::platform {

namespace {

// The reason the system call that just failed gave.
SystemError LastError() { return static_cast<SystemError>(errno); }

SystemError ErrorOf(int result) { return result == 0 ? kNoError : LastError(); }

}  // namespace

bool IsFolder(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

SystemError MakeFolder(const char* path) { return ErrorOf(mkdir(path, 0777)); }

SystemError CreatePacketFile(const char* path, FileHandle& file) {
    // O_NOFOLLOW: the capture usually runs as root, and a link planted at a packet file's name
    // would otherwise truncate whatever file it points to.
    int descriptor = -1;
    do {
        descriptor = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (descriptor < 0 && errno == EINTR);
    file = descriptor < 0 ? kNoFile : descriptor;
    return descriptor < 0 ? LastError() : kNoError;
}

SystemError WritePacketFile(FileHandle file, const void* bytes, std::size_t size) {
    const auto* cursor = static_cast<const unsigned char*>(bytes);
    while (size != 0) {
        const ssize_t written = write(static_cast<int>(file), cursor, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return LastError();
        // A regular file that takes no byte of a write has no room for it.
        if (written == 0) return static_cast<SystemError>(ENOSPC);
        cursor += written;
        size -= static_cast<std::size_t>(written);
    }
    return kNoError;
}

SystemError SetPacketFileTime(FileHandle file, CaptureTime time) {
    const timespec times[2] = {{.tv_sec = 0, .tv_nsec = UTIME_OMIT},
                               {.tv_sec = static_cast<time_t>(time.seconds),
                                .tv_nsec = static_cast<long>(time.nanoseconds)}};
    return ErrorOf(futimens(static_cast<int>(file), times));
}

SystemError ClosePacketFile(FileHandle file) {
    // Linux releases the descriptor even when close is interrupted, so it is never retried.
    return ErrorOf(close(static_cast<int>(file)));
}

SystemError RemovePacketFile(const char* path) { return ErrorOf(unlink(path)); }

SystemError ClaimFolder(const char* path, FileHandle& claim) {
    claim = kNoFile;
    // A folder this caller may not read, or no descriptor left, leaves it unclaimed rather than
    // refused: the capture never reads the folder, and the adapter's open meets a lack of
    // descriptors itself, with the capture library's reason.
    const int folder = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return kNoError;
    // flock's lock belongs to this open of the folder, so a second call of this process, with its
    // own open, conflicts as another process's does; the kernel drops it with the last descriptor.
    if (flock(folder, LOCK_EX | LOCK_NB) == 0) {
        claim = folder;
        return kNoError;
    }
    const int reason = errno;
    close(folder);
    // Any other failure leaves it unclaimed: ENOLCK, or EBADF on NFS, which locks only
    // descriptors open for writing, as a folder's never is.
    return reason == EWOULDBLOCK ? SystemError{EBUSY} : kNoError;
}

void ReleaseFolder(FileHandle claim) {
    if (claim == kNoFile) return;
    // Unlocked before the close: a child the host forked meanwhile shares this open, and would
    // otherwise hold the claim on for as long as it keeps its copy.
    flock(static_cast<int>(claim), LOCK_UN);
    close(static_cast<int>(claim));
}

void LeaveSystemError(SystemError error) { errno = static_cast<int>(error); }

}  // namespace mirrowen::platform
