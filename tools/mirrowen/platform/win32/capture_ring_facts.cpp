#include "platform/capture_ring_facts.h"

// Apart, in this order: iphlpapi.h needs winsock2.h, which must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <vector>

namespace mirrowen::tool::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    // The process's own environment, which Mirrowen.dll reads, not a run-time library's copy.
    char value[256];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return std::nullopt;
    return std::string(value, length);
}

std::uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) != FALSE ? status.ullTotalPhys : 0;
}

std::uint64_t LinkBitsPerSecond(const std::string& device) {
    // The capture library names an adapter \Device\NPF_{GUID}; the system lists it by {GUID}.
    const std::size_t prefix = device.find("NPF_");
    if (prefix == std::string::npos) return 0;
    const std::string name = device.substr(prefix + 4);
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
        if (_stricmp(adapter->AdapterName, name.c_str()) != 0) continue;
        // All ones where the adapter reports no speed.
        return adapter->ReceiveLinkSpeed == ~ULONG64{0} ? 0 : adapter->ReceiveLinkSpeed;
    }
    return 0;
}

}  // namespace mirrowen::tool::platform
