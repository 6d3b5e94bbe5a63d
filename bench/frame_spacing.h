#pragma once

#include <string>

#include "mirrowen.h"

namespace mirrowen::bench {

// Sends 20 frames 50 ms apart (paced by absolute times) into the library, then compares the
// spacing the sender measured with the spacing of the packet files' modification times and of
// the frames' times in the pcap that `mirrowen export` (at `toolPath`) writes, as tshark reads
// them.
void FrameSpacing(MirrowenFunction function, const std::string& toolPath);

}  // namespace mirrowen::bench
