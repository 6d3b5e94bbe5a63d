#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

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

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace mirrowen::platform
