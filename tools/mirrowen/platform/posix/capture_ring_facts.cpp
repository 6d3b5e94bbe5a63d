#include "platform/capture_ring_facts.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace mirrowen::tool::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    // The tool sets its environment only before any other thread runs.
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    if (value == nullptr) return std::nullopt;
    return value;
}

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::uint64_t LinkBitsPerSecond(const std::string& device) {
    // Asked as the module asks: of the kernel, for this process's network namespace.
    ifreq request{};
    if (device.size() >= sizeof request.ifr_name) return 0;
    device.copy(request.ifr_name, device.size());
    ethtool_cmd settings{};
    settings.cmd = ETHTOOL_GSET;
    request.ifr_data = reinterpret_cast<char*>(&settings);
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return 0;
    const int status = ioctl(socket, SIOCETHTOOL, &request);
    close(socket);
    const std::uint32_t megabits = ethtool_cmd_speed(&settings);
    if (status != 0 || megabits == 0 || megabits == static_cast<std::uint32_t>(SPEED_UNKNOWN)) {
        return 0;
    }
    return std::uint64_t{megabits} * 1'000'000;
}

}  // namespace mirrowen::tool::platform
