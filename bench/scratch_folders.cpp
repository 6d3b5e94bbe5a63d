#include "scratch_folders.h"

#include <sched.h>
#include <sys/mount.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace mirrowen::bench {

ScratchTmpfs::ScratchTmpfs() : folder_(std::in_place) {
    // The mount is made in a mount namespace of the process's own (mounts of the system still
    // reach it, its own reach nobody), so that it goes with the process however that ends.
    // Sized for the largest run (a million small files and their inodes) with room to spare.
    try {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) {
            throw std::runtime_error("no mount namespace of the process's own");
        }
        mount_.emplace(folder_->path(), std::size_t{2} << 30, std::size_t{4} << 20);
    } catch (const std::exception&) {
        folder_.emplace("/dev/shm");
    }
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
