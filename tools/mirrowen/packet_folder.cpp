#include "packet_folder.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "exit_status.h"
#include "library_names.h"
#include "platform/tool_platform.h"
#include "printed_text.h"

namespace mirrowen::tool {

namespace {

constexpr int kExitFolderRefused = kExitCaptureBase + ResultRefused;

int Refuse(const std::string& folder, const std::string& why) {
    std::cerr << "mirrowen: the output folder " << folder << " cannot be used: " << why << '\n';
    return kExitFolderRefused;
}

}  // namespace

FolderListing ListPacketFolder(const std::string& folder, std::error_code& error) {
    constexpr std::size_t kOtherNamesNamed = 5;
    FolderListing listing;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (const std::optional<std::int32_t> number = PacketFileNumber(name)) {
            listing.numbers.push_back(*number);
        } else if (++listing.otherNames <= static_cast<std::int64_t>(kOtherNamesNamed)) {
            listing.otherSample.push_back(name);
        }
    }
    if (error) return {};
    std::sort(listing.numbers.begin(), listing.numbers.end());
    std::sort(listing.otherSample.begin(), listing.otherSample.end());
    return listing;
}

std::vector<std::int32_t> PacketFileNumbers(const std::string& folder, std::error_code& error) {
    return ListPacketFolder(folder, error).numbers;
}

std::string PacketFilePath(const std::string& folder, std::int64_t number) {
    return folder + MIRROWEN_PATH_SEPARATOR + PacketFileName(number);
}

int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet) {
    if (folder.size() < 2) {
        return Refuse(folder,
                      "the capture module takes no folder path shorter than 2 bytes; "
                      "choose a folder below it with -o");
    }
    platform::PathKind kind = platform::PathKind::kMissing;
    if (const int error = platform::KindOf(folder, kind); error != 0) {
        return Refuse(folder, platform::FileSystemReason(error, folder));
    }
    if (kind == platform::PathKind::kOther) {
        return Refuse(folder, "it is a file, not a folder; choose another with -o");
    }
    if (kind == platform::PathKind::kMissing) {
        if (const int error = platform::MakeFolder(folder); error != 0) {
            const std::string parent = std::filesystem::path(folder).parent_path().string();
            if (platform::IsMissingParent(error)) {
                return Refuse(folder, "its parent folder " + parent +
                                          " does not exist (the capture creates the folder, not "
                                          "its parents)");
            }
            return Refuse(folder,
                          "it cannot be created: " + platform::FileSystemReason(error, parent));
        }
    }

    std::error_code listError;
    const std::vector<std::int32_t> earlier = PacketFileNumbers(folder, listError);
    if (listError) return Refuse(folder, "it cannot be read: " + listError.message());
    if (!earlier.empty() && !replaceEarlierCapture) {
        std::string names = PacketFileName(earlier.front());
        if (earlier.size() > 1) names += " to " + PacketFileName(earlier.back());
        std::cerr << "mirrowen: the output folder " << folder << " already holds "
                  << Plural(std::ssize(earlier), "packet file") << " (" << names
                  << ") of an earlier capture, which this one would mix with its own; export them "
                     "first, give --replace to remove them, or choose another folder with -o\n";
        return kExitFolderRefused;
    }
    for (const std::int32_t number : earlier) {
        const std::string file = PacketFilePath(folder, number);
        if (const int error = platform::RemoveFile(file); error != 0) {
            return Refuse(folder, "cannot remove " + file + " of an earlier capture: " +
                                      platform::FileSystemReason(error, folder));
        }
    }
    if (!earlier.empty() && !quiet) {
        std::cerr << "Removed " << Plural(std::ssize(earlier), "packet file")
                  << " of an earlier capture"
                  << " from " << folder << '\n';
    }

    if (const int error = platform::WriteTrialFile(folder); error != 0) {
        return Refuse(folder,
                      "no file can be written in it: " + platform::FileSystemReason(error, folder));
    }
    return kExitSuccess;
}

}  // namespace mirrowen::tool
