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

// Makes the output folder (an absolute path) ready for a capture, or refuses it: creates it if it
// is missing (not its parents), refuses a folder that holds packet files of an earlier capture
// unless `replaceEarlierCapture` (then removes them, with a line on stderr unless `quiet`), and
// makes sure that a file can be created, written and removed in it. Returns kExitSuccess, or prints
// one line that says why and returns the status of a refused folder.
int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet);

}  // namespace mirrowen::tool
