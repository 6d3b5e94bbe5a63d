// A capture on loopback of traffic the demo sends itself, exported to a pcap file.
#pragma once

#include <optional>
#include <string>

#include "frame_viewer.h"
#include "mirrowen.h"

namespace mirrowen::tool {

// Writes the packet files to <outputFolder>/captures and the pcap to <outputFolder>/demo.pcap,
// printing a line per stored frame through the viewer, where one is given (--show). Returns the
// exit status.
int RunDemo(MirrowenFunction mirrowen, const std::string& outputFolder,
            const std::optional<FrameViewerProgram>& viewer);

}  // namespace mirrowen::tool
