// A folder of packet files as the tool meets it: which numbers it holds, and made ready for a
// capture before the module is called. The tool's own file-system calls for that are here, and
// every failure is told with the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace mirrowen::tool {

// The numbers of the packet files in `folder` (names as the module writes them), ascending; empty,
// with `error` set, when the folder cannot be read.
std::vector<std::int32_t> PacketFileNumbers(const std::string& folder, std::error_code& error);

// The system's text for `error` met in `folder`; for a full file system, also whether its space
// or its inodes ran out.
std::string FileSystemReason(int error, const std::string& folder);

// Makes the output folder (an absolute path) ready for a capture, or refuses it: creates it if it
// is missing (not its parents), refuses a folder that holds packet files of an earlier capture
// unless `replaceEarlierCapture` (then removes them, with a line on stderr unless `quiet`), and
// makes sure that a file can be created, written and removed in it. Returns kExitSuccess, or prints
// one line that says why and returns the status of a refused folder.
int PrepareCaptureFolder(const std::string& folder, bool replaceEarlierCapture, bool quiet);

}  // namespace mirrowen::tool
