// What the capture ring is sized by on Linux, as the system tells it: the adapter's link speed
// and the machine's memory. Shared by the library's platform code and the mirrowen tool's, which
// names the ring the library will ask for; each includes the header of its own platform.
#pragma once

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace mirrowen::ring_facts {

// The machine's physical memory in bytes; 0 if it cannot be told.
inline std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

// The interface's link speed in bits/s; 0 where the driver reports none.
inline std::uint64_t LinkBitsPerSecond(const char* device) {
    // Asked of the kernel through a socket, which answers for the calling thread's network
    // namespace (the /sys tree shows the one it was mounted in).
    ifreq request{};
    const std::size_t length = std::strlen(device);
    if (length >= sizeof request.ifr_name) return 0;
    std::memcpy(request.ifr_name, device, length);
    ethtool_cmd settings{};
    settings.cmd = ETHTOOL_GSET;
    request.ifr_data = reinterpret_cast<char*>(&settings);
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return 0;
    const int status = ioctl(socket, SIOCETHTOOL, &request);
    close(socket);
    // Drivers that know no speed (loopback, most wireless ones, tunnels) refuse, or report
    // SPEED_UNKNOWN.
    const std::uint32_t megabits = ethtool_cmd_speed(&settings);
    if (status != 0 || megabits == 0 || megabits == static_cast<std::uint32_t>(SPEED_UNKNOWN)) {
        return 0;
    }
    return std::uint64_t{megabits} * 1'000'000;
}

}  // namespace mirrowen::ring_facts
