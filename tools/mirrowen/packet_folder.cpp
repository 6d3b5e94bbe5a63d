#include "packet_folder.h"

#include <algorithm>
#include <iostream>

#include "exit_status.h"
#include "library_names.h"
#include "platform/files.h"
#include "platform/process.h"
#include "printed_text.h"

namespace mirrowen::tool {

namespace {

constexpr int kExitFolderRefused = kExitCaptureBase + ResultRefused;

int Refuse(const std::string& folder, const std::string& why) {
    std::cerr << "mirrowen: the output folder " << folder << " cannot be used: " << why << '\n';
    return kExitFolderRefused;
}

}  // namespace

std::string FileSystemReason(int error, const std::string& folder) {
    std::string reason = platform::SystemErrorText(error);
    switch (platform::WhatRanOut(error, folder)) {
        case platform::Exhausted::kEntries:
            reason +=
                " (no inodes left: the file system holds as many files as it can, whatever "
                "space it has; 'df -i' shows it)";
            break;
        case platform::Exhausted::kSpace:
            reason += " (the file system is full)";
            break;
        case platform::Exhausted::kNothingKnown:
            break;
    }
    return reason;
}

int RefuseFolderInUse(const std::string& folder) {
    std::cerr << "mirrowen: another capture is writing into " << folder << '\n';
    return kExitFolderRefused;
}

FolderListing ListPacketFolder(const std::string& folder, std::error_code& error) {
    constexpr std::size_t kOtherNamesNamed = 5;
    FolderListing listing;
    const int listError = platform::ForEachName(folder, [&listing](const std::string& name) {
        if (const std::optional<std::int32_t> number = PacketFileNumber(name)) {
            listing.numbers.push_back(*number);
        } else if (++listing.otherNames <= static_cast<std::int64_t>(kOtherNamesNamed)) {
            listing.otherSample.push_back(name);
        }
    });
    if (listError != 0) {
        error = platform::SystemErrorCode(listError);
        return {};
    }
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

namespace {

// A folder that exists: refused if another capture writes into it, if it holds an earlier
// capture (unless replaced) or takes no file, and only then the earlier capture's files removed.
int ReadyForCapture(const std::string& folder, bool replaceEarlierCapture, bool quiet) {
    // Its files are that capture's, and must not be taken for an earlier one's, nor removed.
    if (platform::IsFolderCapturedInto(folder)) return RefuseFolderInUse(folder);

    std::error_code listError;
    const std::vector<std::int32_t> earlier = PacketFileNumbers(folder, listError);
    if (listError) return Refuse(folder, "it cannot be read: " + listError.message());
    if (!earlier.empty() && !replaceEarlierCapture) {
        std::string names = PacketFileName(earlier.front());
        if (earlier.size() > 1) names += " to " + PacketFileName(earlier.back());
        std::cerr << "mirrowen: the output folder " << folder << " already holds "
                  << Plural(std::ssize(earlier), "packet file") << " (" << names
                  << ") of an earlier capture, which this one would mix with its own; export "
                  << (earlier.size() == 1 ? "it" : "them") << " first, give --replace to remove "
                  << (earlier.size() == 1 ? "it" : "them")
                  << ", or choose another folder with -o\n";
        return kExitFolderRefused;
    }
    // Everything that can be checked is, before the first file goes: a refusal after some
    // removals would leave half of the earlier capture.
    for (const std::int32_t number : earlier) {
        const std::string file = PacketFilePath(folder, number);
        platform::PathKind entry = platform::PathKind::kOther;
        if (const int error = platform::KindOf(file, entry); error != 0) {
            return Refuse(folder, "cannot tell what " + file + " of an earlier capture is: " +
                                      FileSystemReason(error, folder));
        }
        if (entry == platform::PathKind::kFolder) {
            return Refuse(folder, file +
                                      " is a folder, not a packet file, and --replace removes "
                                      "only packet files; move it or choose another folder");
        }
    }
    if (const int error = platform::WriteTrialFile(folder); error != 0) {
        return Refuse(folder, "no file can be written in it: " + FileSystemReason(error, folder));
    }
    for (const std::int32_t number : earlier) {
        const std::string file = PacketFilePath(folder, number);
        if (const int error = platform::RemoveFile(file); error != 0) {
            return Refuse(folder, "cannot remove " + file +
                                      " of an earlier capture: " + FileSystemReason(error, folder));
        }
    }
    if (!earlier.empty() && !quiet) {
        std::cerr << "Removed " << Plural(std::ssize(earlier), "packet file")
                  << " of an earlier capture"
                  << " from " << folder << '\n';
    }
    return kExitSuccess;
}

}  // namespace

int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet,
                         bool& created) {
    created = false;
    platform::PathKind kind = platform::PathKind::kMissing;
    if (const int error = platform::KindOf(folder, kind); error != 0) {
        return Refuse(folder, FileSystemReason(error, folder));
    }
    // However it is spelled (/, //, /tmp/.., a link to it); the module would write into it.
    if (kind == platform::PathKind::kFolder && platform::IsRootFolder(folder)) {
        return Refuse(folder, "it is the root folder; choose a folder below it with -o");
    }
    if (kind == platform::PathKind::kOther) {
        return Refuse(folder, "it is a file, not a folder; choose another with -o");
    }
    if (kind == platform::PathKind::kMissing) {
        if (const int error = platform::MakeFolder(folder); error != 0) {
            const std::string parent = platform::ParentFolder(folder);
            if (platform::IsMissingParent(error)) {
                return Refuse(folder, "its parent folder " + parent +
                                          " does not exist (the capture creates the folder, not "
                                          "its parents)");
            }
            return Refuse(folder, "it cannot be created: " + FileSystemReason(error, parent));
        }
        created = true;
    }
    const int status = ReadyForCapture(folder, replaceEarlierCapture, quiet);
    // A folder made for a capture that does not start goes again, as it came.
    if (status != kExitSuccess && created) {
        platform::RemoveEmptyFolder(folder);
        created = false;
    }
    return status;
}

}  // namespace mirrowen::tool
