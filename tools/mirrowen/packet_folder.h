// A folder of packet files as the tool meets it: which numbers it holds, and made ready for a
// capture before the module is called. Every failure is told with the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace mirrowen::tool {

// What a folder holds: the numbers of its packet files (names as the module writes them),
// ascending, and what else stands in it.
struct FolderListing {
    std::vector<std::int32_t> numbers;
    std::int64_t otherNames = 0;           // entries whose names are not packet files' names
    std::vector<std::string> otherSample;  // the first few of them, to name
};
// Empty, with `error` set, when the folder cannot be read.
FolderListing ListPacketFolder(const std::string& folder, std::error_code& error);

// The numbers alone.
std::vector<std::int32_t> PacketFileNumbers(const std::string& folder, std::error_code& error);

// The path of packet file `number` in `folder`, with the platform's separator.
std::string PacketFilePath(const std::string& folder, std::int64_t number);

// The system's text for `error` met in `folder`; for a full file system, whether its space or its
// entries (inodes) ran out.
std::string FileSystemReason(int error, const std::string& folder);

// Says that another capture is writing into the folder; returns the status of a refused folder.
int RefuseFolderInUse(const std::string& folder);

// Makes the output folder (an absolute path) ready for a capture, or refuses it: refuses the root
// folder, creates the folder if it is missing (not its parents; `created` says so), refuses a
// folder that another capture is writing into before anything else is done in it, and one that
// holds packet files of an earlier capture unless `replaceEarlierCapture`, and makes sure that a
// file can be created, written and removed in it; only then are the earlier files removed (with a
// line on stderr unless `quiet`). Returns kExitSuccess, or prints one line that says why and
// returns the status of a refused folder.
int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet,
                         bool& created);

}  // namespace mirrowen::tool
