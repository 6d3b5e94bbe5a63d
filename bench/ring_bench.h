#pragma once

// What the size of the library's capture buffer (the kernel's ring) buys and costs. Each size is
// set through MIRROWEN_CAPTURE_BUFFER_MB, which the library reads at each call; the sizes take
// turns within each repetition.
#include <cstddef>
#include <vector>

#include "mirrowen.h"

namespace mirrowen::bench {

// Bursts of 1514-byte frames into the library on a tmpfs, at each of `rates` for `seconds` (0:
// 200,000 frames at full speed): how many of them each buffer size keeps.
void Burst(MirrowenFunction function, const std::vector<std::size_t>& buffersMiB,
           const std::vector<double>& rates, double seconds, int repetitions);

// For each buffer size: the time to open the capture as the library opens it (pcap_create to
// pcap_activate) and to close it, the machine's memory and the process's address space and
// resident memory that the open capture takes, and the time of a library call stopped as soon as
// it starts (its open and its close).
void RingCost(MirrowenFunction function, const std::vector<std::size_t>& buffersMiB,
              int repetitions);

}  // namespace mirrowen::bench
