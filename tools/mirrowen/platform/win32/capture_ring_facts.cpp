#include "platform/capture_ring_facts.h"

#include "ring_facts_win32.h"

namespace mirrowen::tool::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    // The process's own environment, which Mirrowen.dll reads, not a run-time library's copy.
    char value[256];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return std::nullopt;
    return std::string(value, length);
}

std::uint64_t PhysicalMemoryBytes() { return ring_facts::PhysicalMemoryBytes(); }

std::uint64_t LinkBitsPerSecond(const std::string& device) {
    return ring_facts::LinkBitsPerSecond(device.c_str());
}

}  // namespace mirrowen::tool::platform
