// The tool's exit statuses, with what each means for the commands that end with it: the help
// text of `capture` and `export` is made from this table, and docs/tool.md's "Capture your own
// traffic" lists the statuses for users.
#pragma once

#include <string>
#include <string_view>

#include "mirrowen.h"

namespace mirrowen::tool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;        // the command failed; a line on stderr says why
inline constexpr int kExitUsage = 2;          // a bad option or argument
inline constexpr int kExitModuleMissing = 3;  // the capture module could not be loaded
inline constexpr int kExitFramesSkipped =
    4;                                       // export: pcap written, but numbers missing or skipped
inline constexpr int kExitCaptureBase = 10;  // capture: 10 + the module's result code (12..16)
inline constexpr int kExitUnknownResult = 17;  // capture: the module returned a code outside 1..6
// capture: a second stop request ended the program at once, the system's way: on POSIX the
// signal's own end, which shells report as 128 + its number (130 for Ctrl-C's SIGINT, 143 for
// SIGTERM, 129 for SIGHUP); on Windows the console's, STATUS_CONTROL_C_EXIT.
#ifdef _WIN32
inline constexpr int kExitSecondStopRequest = static_cast<int>(0xC000013AU);
inline constexpr std::string_view kSecondStopRequestMeaning =
    "a second Ctrl-C ended the program at once (STATUS_CONTROL_C_EXIT)";
#else
inline constexpr int kExitSecondStopRequest = 130;
inline constexpr std::string_view kSecondStopRequestMeaning =
    "a second Ctrl-C ended the program at once, by SIGINT (a second SIGTERM: 143, SIGHUP: 129)";
#endif

enum class Command { Capture, Export };

struct ExitStatusMeaning {
    int status;
    Command command;
    std::string_view meaning;
};

inline constexpr ExitStatusMeaning kExitStatuses[] = {
    {kExitSuccess, Command::Capture,
     "finished (Ctrl-C or another stop request, --count or --duration)"},
    {kExitFailure, Command::Capture, "other failure"},
    {kExitUsage, Command::Capture, "bad option or argument"},
    {kExitModuleMissing, Command::Capture, "capture module not found"},
    {kExitCaptureBase + ResultRefused, Command::Capture,
     "output folder refused (unusable, or holding an earlier capture)"},
    {kExitCaptureBase + ResultAdapterFailed, Command::Capture, "adapter cannot be opened"},
    {kExitCaptureBase + ResultNotEthernet, Command::Capture, "adapter is not Ethernet"},
    {kExitCaptureBase + ResultFileFailed, Command::Capture,
     "a packet file cannot be written (the system's reason on stderr)"},
    {kExitCaptureBase + ResultCaptureError, Command::Capture, "the capture failed while reading"},
    {kExitUnknownResult, Command::Capture, "unknown result from the module"},
    {kExitSecondStopRequest, Command::Capture, kSecondStopRequestMeaning},
    {kExitSuccess, Command::Export, "all written"},
    {kExitFailure, Command::Export,
     "failure: no packet files, an output inside the folder, or the system's reason"},
    {kExitUsage, Command::Export, "bad option or argument"},
    {kExitFramesSkipped, Command::Export,
     "written, but numbers are missing or packet files could not be frames (listed on stderr)"},
};

// "Exit status: 0 <meaning>; 1 <meaning>; ..." for one command's help.
inline std::string ExitStatusHelp(Command command) {
    std::string help = "Exit status:";
    for (const ExitStatusMeaning& entry : kExitStatuses) {
        if (entry.command != command) continue;
        help += (help.back() == ':' ? " " : "; ") + std::to_string(entry.status) + " ";
        help += entry.meaning;
    }
    return help + ".";
}

}  // namespace mirrowen::tool
