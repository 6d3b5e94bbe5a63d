// What the capture ring is sized by on Windows, as the system tells it: the adapter's receive link
// speed and the machine's memory. Shared by the library's platform code and the mirrowen tool's,
// which names the ring the library will ask for; each includes the header of its own platform.
#pragma once

// Apart, in this order: iphlpapi.h needs winsock2.h, which must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace mirrowen::ring_facts {

// The machine's physical memory in bytes; 0 if it cannot be told.
inline std::uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) != FALSE ? status.ullTotalPhys : 0;
}

// The adapter's receive link speed in bits/s; 0 where it reports none or is not listed.
inline std::uint64_t LinkBitsPerSecond(const char* device) {
    // The capture library names an adapter \Device\NPF_{GUID}; the system lists it by {GUID}.
    const char* name = std::strstr(device, "NPF_");
    if (name == nullptr) return 0;
    name += 4;
    constexpr ULONG kListOnly = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                                GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> list;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    // The list may grow between asking for its size and reading it: a few tries.
    for (int attempt = 0; attempt < 3 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        list.resize(size);
        status = GetAdaptersAddresses(AF_UNSPEC, kListOnly, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(list.data()), &size);
    }
    if (status != NO_ERROR) return 0;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data());
         adapter != nullptr; adapter = adapter->Next) {
        if (_stricmp(adapter->AdapterName, name) != 0) continue;
        // All ones where the adapter reports no speed.
        return adapter->ReceiveLinkSpeed == ~ULONG64{0} ? 0 : adapter->ReceiveLinkSpeed;
    }
    return 0;
}

}  // namespace mirrowen::ring_facts
