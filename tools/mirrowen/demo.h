// A capture on loopback of traffic the demo sends itself, exported to a pcap file.
#pragma once

#include <string>

#include "mirrowen.h"

namespace mirrowen::tool {

// Writes the packet files to <outputFolder>/captures and the pcap to <outputFolder>/demo.pcap,
// printing a line per stored frame with showFrames. Returns the exit status.
int RunDemo(MirrowenFunction mirrowen, const std::string& outputFolder, bool showFrames);

}  // namespace mirrowen::tool
