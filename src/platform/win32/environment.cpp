// Apart, in this order: iphlpapi.h needs winsock2.h, which must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace mirrowen::platform {

bool EnvironmentValue(const char* name, char* value, std::size_t size) {
    // The process's own environment, as the host last set it, not a run-time library's copy.
    const DWORD length = GetEnvironmentVariableA(name, value, static_cast<DWORD>(size));
    return length != 0 && length < size;
}

std::uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) != FALSE ? status.ullTotalPhys : 0;
}

std::uint64_t LinkBitsPerSecond(const char* device) {
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

}  // namespace mirrowen::platform
