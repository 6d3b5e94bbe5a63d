#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "ring_facts_posix.h"

namespace mirrowen::platform {

bool EnvironmentValue(const char* name, char* value, std::size_t size) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the library never changes the environment.
    const char* found = std::getenv(name);
    if (found == nullptr) return false;
    const std::size_t length = std::strlen(found);
    if (length >= size) return false;
    std::memcpy(value, found, length + 1);
    return true;
}

std::uint64_t PhysicalMemoryBytes() { return ring_facts::PhysicalMemoryBytes(); }

std::uint64_t LinkBitsPerSecond(const char* device) {
    return ring_facts::LinkBitsPerSecond(device);
}

}  // namespace mirrowen::platform
