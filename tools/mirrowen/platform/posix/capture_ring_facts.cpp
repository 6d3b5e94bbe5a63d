#include "platform/capture_ring_facts.h"

#include <cstdlib>

#include "ring_facts_posix.h"

namespace mirrowen::tool::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    // The tool sets its environment only before any other thread runs.
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    if (value == nullptr) return std::nullopt;
    return value;
}

std::uint64_t PhysicalMemoryBytes() { return ring_facts::PhysicalMemoryBytes(); }

// Asked as the module asks: of the kernel, for this process's network namespace.
std::uint64_t LinkBitsPerSecond(const std::string& device) {
    return ring_facts::LinkBitsPerSecond(device.c_str());
}

}  // namespace mirrowen::tool::platform
