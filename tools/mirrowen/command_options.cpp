#include "command_options.h"

#include <iostream>

#include "arguments.h"

namespace mirrowen::tool {

void AddLibraryOption(CLI::App& command, std::string& library) {
    command
        .add_option("--library", library,
                    "The capture module to load (" MIRROWEN_MODULE_FILE_NAME ")")
        ->type_name("PATH")
        ->check(NonEmptyPath("module path"));
}

void AddShowFlag(CLI::App& command, bool& showFrames) {
    command.add_flag(
        "--show", showFrames,
        "Print a line per stored frame as its file is written: the frames run through tcpdump "
        "-n -e (tshark where tcpdump is missing), each line numbered with its packet file's "
        "number");
}

bool FindViewerForShow(bool showFrames, std::optional<FrameViewerProgram>& viewer) {
    if (!showFrames) return true;
    viewer = FindFrameViewer();
    if (!viewer) {
        std::cerr << "mirrowen: " << NoFrameViewerText() << '\n';
        return false;
    }
    return true;
}

}  // namespace mirrowen::tool
