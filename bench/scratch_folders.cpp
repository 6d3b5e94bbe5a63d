#include "scratch_folders.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace mirrowen::bench {

namespace {

std::filesystem::path MakeFreshDirectory(const std::filesystem::path& parent) {
    std::string pattern = (parent / "mirrowen-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a directory under " + parent.string());
    }
    return pattern;
}

}  // namespace

ScratchTmpfs::ScratchTmpfs() : path_(MakeFreshDirectory(std::filesystem::temp_directory_path())) {
    // The mount is made in a mount namespace of the process's own (mounts of the system still
    // reach it, its own reach nobody), so that it goes with the process however that ends.
    // Sized for the largest run (a million small files and their inodes) with room to spare.
    mounted_ = unshare(CLONE_NEWNS) == 0 &&
               mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0 &&
               mount("mirrowen-bench", path_.c_str(), "tmpfs", 0, "size=2g,nr_inodes=4m") == 0;
    if (!mounted_) {
        std::filesystem::remove(path_);
        path_ = MakeFreshDirectory("/dev/shm");
    }
}

ScratchTmpfs::~ScratchTmpfs() {
    std::error_code ignored;
    if (mounted_) {
        umount2(path_.c_str(), MNT_DETACH);
        std::filesystem::remove(path_, ignored);
    } else {
        std::filesystem::remove_all(path_, ignored);
    }
}

ScratchDirectory::ScratchDirectory(const std::filesystem::path& parent)
    : path_(MakeFreshDirectory(parent)) {}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path DiskParent() {
    const char* chosen = std::getenv("MIRROWEN_BENCH_DISK");
    return chosen != nullptr && *chosen != '\0' ? chosen : "/var/tmp";
}

std::string FileSystemType(const std::filesystem::path& path) {
    // The longest mount point that is a prefix of the canonical path is the one it lives on.
    const std::string target = std::filesystem::canonical(path).string();
    std::ifstream mounts("/proc/self/mounts");
    std::string source, mountPoint, type, rest, best, bestType = "unknown";
    while (mounts >> source >> mountPoint >> type && std::getline(mounts, rest)) {
        const bool covers = target.starts_with(mountPoint) &&
                            (mountPoint == "/" || target.size() == mountPoint.size() ||
                             target[mountPoint.size()] == '/');
        if (covers && mountPoint.size() >= best.size()) {
            best = mountPoint;
            bestType = type;
        }
    }
    return bestType;
}

}  // namespace mirrowen::bench
