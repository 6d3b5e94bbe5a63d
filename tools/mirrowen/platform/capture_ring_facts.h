// What the capture module's ring is sized by, read the way the module reads it at its call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirrowen::tool::platform {

// A variable of the process's environment; nothing where it is not set.
std::optional<std::string> EnvironmentValue(const char* name);

// The machine's physical memory in bytes; 0 if it cannot be told.
std::uint64_t PhysicalMemoryBytes();

// The link speed in bits/s that the system reports for the capture device (Linux: the kernel's
// speed of the interface; Windows: the adapter's receive link speed); 0 where it reports none.
std::uint64_t LinkBitsPerSecond(const std::string& device);

}  // namespace mirrowen::tool::platform
