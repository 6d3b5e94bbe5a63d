#pragma once

#include <filesystem>
#include <string>

namespace mirrowen::bench {

// A tmpfs of the benchmark's own, mounted on a fresh directory under the system's temporary
// directory and unmounted (with the directory removed) by the destructor. Needs root, and must be
// made before the process starts a thread (it moves the process into a mount namespace of its
// own); where the mount is refused, a fresh directory under /dev/shm (also tmpfs) is used.
class ScratchTmpfs {
  public:
    ScratchTmpfs();
    ~ScratchTmpfs();
    ScratchTmpfs(const ScratchTmpfs&) = delete;
    ScratchTmpfs& operator=(const ScratchTmpfs&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    bool mounted_ = false;
};

// A fresh directory, removed with its contents by the destructor.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(const std::filesystem::path& parent);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Where disk runs put their files: $MIRROWEN_BENCH_DISK if set, else /var/tmp.
std::filesystem::path DiskParent();

// The file system type under `path` ("tmpfs", "ext4", ...), from /proc/self/mounts.
std::string FileSystemType(const std::filesystem::path& path);

}  // namespace mirrowen::bench
