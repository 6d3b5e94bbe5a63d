#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace mirrowen::platform {

bool IsFolder(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool MakeFolder(const char* path) { return mkdir(path, 0777) == 0; }

FileHandle CreatePacketFile(const char* path) {
    // O_NOFOLLOW: the capture usually runs as root, and a link planted at a packet file's name
    // would otherwise truncate whatever file it points to.
    int descriptor = -1;
    do {
        descriptor = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor < 0 ? kNoFile : descriptor;
}

bool WritePacketFile(FileHandle file, const void* bytes, std::size_t size) {
    const auto* cursor = static_cast<const unsigned char*>(bytes);
    while (size != 0) {
        const ssize_t written = write(static_cast<int>(file), cursor, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        cursor += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool SetPacketFileTime(FileHandle file, CaptureTime time) {
    const timespec times[2] = {{.tv_sec = 0, .tv_nsec = UTIME_OMIT},
                               {.tv_sec = static_cast<time_t>(time.seconds),
                                .tv_nsec = static_cast<long>(time.nanoseconds)}};
    return futimens(static_cast<int>(file), times) == 0;
}

bool ClosePacketFile(FileHandle file) {
    // Linux releases the descriptor even when close is interrupted, so it is never retried.
    return close(static_cast<int>(file)) == 0;
}

bool RemovePacketFile(const char* path) { return unlink(path) == 0; }

}  // namespace mirrowen::platform
