#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirrowen::tool {

// "384 MiB capture ring (the largest by default; ...)": the ring the capture module will ask for
// on `device`, by the rule of mirrowen.h, from what it reads at its call (where -B is set by then,
// `bufferMiB`), and why that size.
std::string RingText(const std::string& device, std::optional<std::int64_t> bufferMiB);

}  // namespace mirrowen::tool
