// The capture library's adapter list read into the tool's Adapter: the same for libpcap's
// pcap_if_t and for the one wpcap.dll hands over, which has its layout and its flags. Each
// platform's capture_library.cpp includes this after its capture library's declarations.
#pragma once

#include <vector>

#include "platform/capture_library.h"

namespace mirrowen::tool::platform {

template <typename Device>
std::vector<Adapter> AdaptersOf(const Device* devices) {
    std::vector<Adapter> adapters;
    for (const Device* device = devices; device != nullptr; device = device->next) {
        adapters.push_back(
            {.device = device->name,
             .description = device->description != nullptr ? device->description : "",
             .up = (device->flags & PCAP_IF_UP) != 0,
             .running = (device->flags & PCAP_IF_RUNNING) != 0,
             .loopback = (device->flags & PCAP_IF_LOOPBACK) != 0,
             .wireless = (device->flags & PCAP_IF_WIRELESS) != 0});
    }
    return adapters;
}

}  // namespace mirrowen::tool::platform
