// Files and folders, as the tool reads packet files and prepares a capture's folder. Each platform
// folder implements it in its files.cpp, each failure with the system's reason.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace mirrowen::tool::platform {

// What stands at a name; a packet file is only ever a regular file.
enum class FileKind { kRegular, kLink, kFolder, kFifo, kDevice, kOther };

struct FileStatus {
    FileKind kind = FileKind::kOther;
    std::int64_t size = 0;
    timespec modified{};  // since 1970-01-01 UTC, as the file system keeps it
    // Which file it is: two names with the same device and identity name the same file.
    std::uint64_t device = 0;
    std::uint64_t identity = 0;
    std::uint64_t links = 0;  // names the file has
};

// The status of what `path` names, following a link; 0, or the system's reason.
int StatusOf(const std::string& path, FileStatus& status);

// A regular file opened for reading. A link, a FIFO, a device or a folder at the name is never
// followed or read (its kind is in Status(), and Read reads nothing), nor on POSIX opened, so that
// nothing standing there can block the read or be set off by an open; released with the object.
class InputFile {
  public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // 0 once the name's status is read (and a regular file opened); else the system's reason.
    int Error() const { return error_; }
    const FileStatus& Status() const { return status_; }
    // Reads up to `size` bytes: how many, 0 at the end; nothing, with the system's reason in
    // Error(), when the read failed.
    std::optional<std::size_t> Read(unsigned char* bytes, std::size_t size);

  private:
    std::intptr_t handle_ = -1;
    int error_ = 0;
    FileStatus status_;
};

enum class PathKind { kFolder, kOther, kMissing };
// What stands at `path`; 0, or the system's reason when that cannot be told.
int KindOf(const std::string& path, PathKind& kind);

// Whether `folder` is the file system's root (on Windows a volume's), however it is spelled.
bool IsRootFolder(const std::string& folder);
// The folder that holds `path`, cut at its last separator.
std::string ParentFolder(const std::string& path);
// Calls `take` with the name of every entry of `folder` (not "." and ".."), through the same calls
// that create and open the files; 0, or the system's reason.
int ForEachName(const std::string& folder, const std::function<void(const std::string&)>& take);
// The system's reason as an error code, for the text it gives.
std::error_code SystemErrorCode(int error);

// The path made absolute against the current folder, in the form the capture module takes.
std::optional<std::string> AbsolutePath(const std::string& path, std::string& error);

// Creates one folder (not its parents); 0, or the system's reason.
int MakeFolder(const std::string& path);
// Whether MakeFolder's reason is a missing parent folder.
bool IsMissingParent(int error);
// Creates, writes, closes and removes a file in the folder; 0, or the system's reason for the
// first of those that failed.
int WriteTrialFile(const std::string& folder);
// Whether a capture module's call holds the folder for its capture at this moment: asked for as
// the module claims it, and given back at once.
bool IsFolderCapturedInto(const std::string& folder);
// Removes a file; 0 also when there was none, else the system's reason.
int RemoveFile(const std::string& path);
// Removes a folder if it is empty; 0, or the system's reason.
int RemoveEmptyFolder(const std::string& path);

// What ran out, as far as the system tells, when `error` says that the file system holding
// `folder` is full: its entries (inodes), its space, or nothing known (also for any other error).
enum class Exhausted { kNothingKnown, kEntries, kSpace };
Exhausted WhatRanOut(int error, const std::string& folder);
// Whether `error` is a call's refusal to follow a symbolic link at the name it was given, which
// the platform's capture module never follows.
bool IsLinkRefused(int error);

}  // namespace mirrowen::tool::platform
