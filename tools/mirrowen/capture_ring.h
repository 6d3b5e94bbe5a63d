#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirrowen::tool {

// "384 MiB capture ring (the largest by default; ...)": the ring the capture module asks for on
// `device`, by the rule of mirrowen.h, from what it reads at its call (where -B is set by then,
// `bufferMiB`), and why that size; and where the system gave a ring smaller than that
// (`ringBytes`, as mapped; 0 where unknown), that too.
std::string RingText(const std::string& device, std::optional<std::int64_t> bufferMiB,
                     std::uint64_t ringBytes);

}  // namespace mirrowen::tool
