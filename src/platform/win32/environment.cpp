#include "ring_facts_win32.h"

#include "platform/platform.h"

namespace mirrowen::platform {

bool EnvironmentValue(const char* name, char* value, std::size_t size) {
    // The process's own environment, as the host last set it, not a run-time library's copy.
    const DWORD length = GetEnvironmentVariableA(name, value, static_cast<DWORD>(size));
    return length != 0 && length < size;
}

std::uint64_t PhysicalMemoryBytes() { return ring_facts::PhysicalMemoryBytes(); }

std::uint64_t LinkBitsPerSecond(const char* device) {
    return ring_facts::LinkBitsPerSecond(device);
}

}  // namespace mirrowen::platform
