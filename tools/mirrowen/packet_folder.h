// A folder of packet files as the tool meets it: which numbers it holds, and made ready for a
// capture before the module is called. Every failure is told with the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace mirrowen::tool {

// The numbers of the packet files in `folder` (names as the module writes them), ascending; empty,
// with `error` set, when the folder cannot be read.
std::vector<std::int32_t> PacketFileNumbers(const std::string& folder, std::error_code& error);

// The path of packet file `number` in `folder`, with the platform's separator.
std::string PacketFilePath(const std::string& folder, std::int64_t number);

// Says that another capture is writing into the folder; returns the status of a refused folder.
int RefuseFolderInUse(const std::string& folder);

// Makes the output folder (an absolute path) ready for a capture, or refuses it: creates it if it
// is missing (not its parents), refuses a folder that another capture is writing into, before
// anything else is done in it, and a folder that holds packet files of an earlier capture
// unless `replaceEarlierCapture` (then removes them, with a line on stderr unless `quiet`), and
// makes sure that a file can be created, written and removed in it. Returns kExitSuccess, or prints
// one line that says why and returns the status of a refused folder.
int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet);

}  // namespace mirrowen::tool
