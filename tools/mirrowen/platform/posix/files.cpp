// Files and folders on POSIX, each failure with its errno.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace mirrowen::tool::platform {

namespace {

FileKind KindFrom(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::kRegular;
    if (S_ISLNK(mode)) return FileKind::kLink;
    if (S_ISDIR(mode)) return FileKind::kFolder;
    if (S_ISFIFO(mode)) return FileKind::kFifo;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
    return FileKind::kOther;
}

FileStatus StatusFrom(const struct stat& status) {
    return {.kind = KindFrom(status.st_mode),
            .size = static_cast<std::int64_t>(status.st_size),
            .modified = status.st_mtim,
            .device = static_cast<std::uint64_t>(status.st_dev),
            .identity = static_cast<std::uint64_t>(status.st_ino),
            .links = static_cast<std::uint64_t>(status.st_nlink)};
}

}  // namespace

int StatusOf(const std::string& path, FileStatus& status) {
    struct stat found {};
    if (stat(path.c_str(), &found) != 0) return errno;
    status = StatusFrom(found);
    return 0;
}

InputFile::InputFile(const std::string& path) {
    // Whatever stands at the name is untrusted, and the tool may run as root: only a regular file
    // is opened (a device's open may act), never through a link, and never blocking, should a
    // FIFO take the file's place after the look.
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        error_ = errno;
        return;
    }
    status_ = StatusFrom(status);
    if (status_.kind != FileKind::kRegular) return;
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (file < 0 || fstat(file, &status) != 0) {
        error_ = errno;
    } else {
        status_ = StatusFrom(status);
    }
    handle_ = file;
}

InputFile::~InputFile() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

std::optional<std::size_t> InputFile::Read(unsigned char* bytes, std::size_t size) {
    if (status_.kind != FileKind::kRegular) return 0;
    for (;;) {
        const ssize_t result = read(static_cast<int>(handle_), bytes, size);
        if (result >= 0) return static_cast<std::size_t>(result);
        if (errno != EINTR) {
            error_ = errno;
            return std::nullopt;
        }
    }
}

int KindOf(const std::string& path, PathKind& kind) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        kind = S_ISDIR(status.st_mode) ? PathKind::kFolder : PathKind::kOther;
        return 0;
    }
    if (errno != ENOENT) return errno;
    kind = PathKind::kMissing;
    return 0;
}

bool IsRootFolder(const std::string& folder) {
    struct stat found {};
    struct stat root {};
    return stat(folder.c_str(), &found) == 0 && stat("/", &root) == 0 &&
           found.st_dev == root.st_dev && found.st_ino == root.st_ino;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t separator = path.find_last_of('/');
    if (separator == std::string::npos) return ".";
    return separator == 0 ? "/" : path.substr(0, separator);
}

int ForEachName(const std::string& folder, const std::function<void(const std::string&)>& take) {
    DIR* entries = opendir(folder.c_str());
    if (entries == nullptr) return errno;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(entries);  // NOLINT(concurrency-mt-unsafe): its own stream
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") take(name);
    }
    closedir(entries);
    return error;
}

std::error_code SystemErrorCode(int error) { return {error, std::generic_category()}; }

std::optional<std::string> AbsolutePath(const std::string& path, std::string& error) {
    std::error_code failure;
    std::string absolute = std::filesystem::absolute(path, failure).string();
    if (failure) {
        error = failure.message();
        return std::nullopt;
    }
    return absolute;
}

int MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

bool IsMissingParent(int error) { return error == ENOENT; }

int WriteTrialFile(const std::string& folder) {
    // A name of its own, made unique by mkostemp.
    std::string name = folder + "/.mirrowen-write-check-XXXXXX";
    const int file = mkostemp(name.data(), O_CLOEXEC);
    if (file < 0) return errno;
    int error = 0;
    const char byte = 0;
    const ssize_t written = write(file, &byte, 1);
    if (written < 0) error = errno;
    if (written == 0) error = ENOSPC;
    if (close(file) != 0 && error == 0) error = errno;
    if (unlink(name.c_str()) != 0 && error == 0) error = errno;
    return error;
}

// The module holds an exclusive flock on the folder for the whole capture.
bool IsFolderCapturedInto(const std::string& folder) {
    const int opened = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) return false;
    const bool held = flock(opened, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(opened);  // which gives back a lock it took
    return held;
}

int RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

int RemoveEmptyFolder(const std::string& path) { return rmdir(path.c_str()) == 0 ? 0 : errno; }

Exhausted WhatRanOut(int error, const std::string& folder) {
    struct statvfs usage {};
    if (error != ENOSPC || statvfs(folder.c_str(), &usage) != 0) return Exhausted::kNothingKnown;
    if (usage.f_files != 0 && usage.f_ffree == 0) return Exhausted::kEntries;
    if (usage.f_bavail == 0) return Exhausted::kSpace;
    return Exhausted::kNothingKnown;
}

// The module opens each packet file with O_NOFOLLOW.
bool IsLinkRefused(int error) { return error == ELOOP; }

}  // namespace mirrowen::tool::platform
