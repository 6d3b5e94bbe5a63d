#include <windows.h>

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

}  // namespace mirrowen::platform
