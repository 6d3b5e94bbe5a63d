// The tool's exit statuses; README's "Capture your own traffic" lists them for users.
#pragma once

#include <cstdint>

namespace mirrowen::tool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;         // the command failed; a line on stderr says why
inline constexpr int kExitUsage = 2;           // a bad option or argument
inline constexpr int kExitModuleMissing = 3;   // the capture module could not be loaded
inline constexpr int kExitFramesSkipped = 4;   // export: pcap written, some packet files skipped
inline constexpr int kExitCaptureBase = 10;    // capture: 10 + the module's result code (12..16)
inline constexpr int kExitUnknownResult = 17;  // capture: the module returned a code outside 1..6

}  // namespace mirrowen::tool
