#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "process_state.h"
#include "test_core.h"

namespace mirrowen::bench {

// A tmpfs of the benchmark's own, on a fresh folder under the system's temporary folder, gone with
// the object. Needs root, and must be made before the process starts a thread (it moves the process
// into a mount namespace of its own); where the mount is refused, a fresh folder under /dev/shm
// (also tmpfs) is used.
class ScratchTmpfs {
  public:
    ScratchTmpfs();

    const std::filesystem::path& path() const { return folder_->path(); }

  private:
    std::optional<testing::TemporaryFolder> folder_;
    std::optional<testing::TemporaryFileSystem> mount_;
};

// Where disk runs put their files: $MIRROWEN_BENCH_DISK if set, else /var/tmp.
std::filesystem::path DiskParent();

// The file system type under `path` ("tmpfs", "ext4", ...), from /proc/self/mounts.
std::string FileSystemType(const std::filesystem::path& path);

}  // namespace mirrowen::bench
