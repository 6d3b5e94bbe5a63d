#include "wpcap_library.h"

#include <cstring>

namespace mirrowen::platform {

HMODULE LoadWpcap() {
    if (HMODULE module = LoadLibraryA("wpcap.dll")) return module;
    const DWORD defaultSearchFailure = GetLastError();
    char path[MAX_PATH];
    constexpr char kNpcapFile[] = "\\Npcap\\wpcap.dll";
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length != 0 && length + sizeof kNpcapFile <= MAX_PATH) {
        std::memcpy(path + length, kNpcapFile, sizeof kNpcapFile);
        // Npcap's wpcap.dll imports Packet.dll from the same folder, so that folder is searched
        // for its imports (without changing the host's own DLL search).
        if (HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            return module;
        }
    }
    // Not being in the Npcap folder either says nothing more than the default search did.
    SetLastError(defaultSearchFailure);
    return nullptr;
}

}  // namespace mirrowen::platform
