// The options that more than one command takes, with the same help text in each.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "frame_viewer.h"

namespace mirrowen::tool {

// --library PATH: the capture module to load (capture, demo).
void AddLibraryOption(CLI::App& command, std::string& library);

// --show: a line per stored frame, printed through tcpdump or tshark (capture, demo).
void AddShowFlag(CLI::App& command, bool& showFrames);

// With --show, the program that prints the lines into `viewer`; false, once a line on stderr says
// that nothing can print them (refused at once, before anything starts).
bool FindViewerForShow(bool showFrames, std::optional<FrameViewerProgram>& viewer);

}  // namespace mirrowen::tool
