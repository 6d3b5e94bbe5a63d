#include "packet_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>

#include "exit_status.h"
#include "library_names.h"

namespace mirrowen::tool {

namespace {

constexpr int kExitFolderRefused = kExitCaptureBase + ResultRefused;

int Refuse(const std::string& folder, const std::string& why) {
    std::cerr << "mirrowen: the output folder " << folder << " cannot be used: " << why << '\n';
    return kExitFolderRefused;
}

// The reason a file could not be created, written, closed and removed in the folder; 0 when all of
// that worked. The name is made unique by mkostemp.
int WriteTrialFile(const std::string& folder) {
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

std::string Plural(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::vector<std::int32_t> PacketFileNumbers(const std::string& folder, std::error_code& error) {
    std::vector<std::int32_t> numbers;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (const std::optional<std::int32_t> number = PacketFileNumber(name)) {
            numbers.push_back(*number);
        }
    }
    if (error) return {};
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string FileSystemReason(int error, const std::string& folder) {
    std::string reason = std::error_code(error, std::generic_category()).message();
    struct statvfs usage {};
    if (error == ENOSPC && statvfs(folder.c_str(), &usage) == 0) {
        if (usage.f_files != 0 && usage.f_ffree == 0) {
            reason +=
                " (no inodes left: the file system holds as many files as it can, whatever "
                "space it has; 'df -i' shows it)";
        } else if (usage.f_bavail == 0) {
            reason += " (the file system is full)";
        }
    }
    return reason;
}

int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet) {
    if (folder.size() < 2) {
        return Refuse(folder,
                      "the capture module takes no folder path shorter than 2 bytes; "
                      "choose a folder below it with -o");
    }
    // Each errno is taken at once: building a message may change it.
    struct stat status {};
    if (stat(folder.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode)) {
            return Refuse(folder, "it is a file, not a folder; choose another with -o");
        }
    } else if (const int error = errno; error != ENOENT) {
        return Refuse(folder, FileSystemReason(error, folder));
    } else if (mkdir(folder.c_str(), 0777) != 0) {
        const int mkdirError = errno;
        const std::string parent = std::filesystem::path(folder).parent_path().string();
        if (mkdirError == ENOENT) {
            return Refuse(folder, "its parent folder " + parent +
                                      " does not exist (the capture creates the folder, not "
                                      "its parents)");
        }
        return Refuse(folder, "it cannot be created: " + FileSystemReason(mkdirError, parent));
    }

    std::error_code listError;
    const std::vector<std::int32_t> earlier = PacketFileNumbers(folder, listError);
    if (listError) return Refuse(folder, "it cannot be read: " + listError.message());
    if (!earlier.empty() && !replaceEarlierCapture) {
        std::string names = PacketFileName(earlier.front());
        if (earlier.size() > 1) names += " to " + PacketFileName(earlier.back());
        std::cerr << "mirrowen: the output folder " << folder << " already holds "
                  << Plural(earlier.size(), "packet file") << " (" << names
                  << ") of an earlier capture, which this one would mix with its own; export them "
                     "first, give --replace to remove them, or choose another folder with -o\n";
        return kExitFolderRefused;
    }
    for (const std::int32_t number : earlier) {
        const std::string file = folder + "/" + PacketFileName(number);
        if (unlink(file.c_str()) != 0 && errno != ENOENT) {
            const std::string reason = FileSystemReason(errno, folder);
            return Refuse(folder, "cannot remove " + file + " of an earlier capture: " + reason);
        }
    }
    if (!earlier.empty() && !quiet) {
        std::cerr << "Removed " << Plural(earlier.size(), "packet file") << " of an earlier capture"
                  << " from " << folder << '\n';
    }

    if (const int error = WriteTrialFile(folder); error != 0) {
        return Refuse(folder, "no file can be written in it: " + FileSystemReason(error, folder));
    }
    return kExitSuccess;
}

}  // namespace mirrowen::tool
