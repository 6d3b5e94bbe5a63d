#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace mirrowen::platform {

void ModulePath(char* buffer, std::size_t size) {
    if (size == 0) return;
    buffer[0] = '\0';
    // The module that holds this function is the DLL itself, under whatever name it was loaded.
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&ModulePath), &self)) {
        return;
    }
    const DWORD length = GetModuleFileNameA(self, buffer, static_cast<DWORD>(size));
    // Windows XP leaves a truncated name without its NUL.
    if (length >= size) buffer[size - 1] = '\0';
    if (length == 0) buffer[0] = '\0';
}

}  // namespace mirrowen::platform

// At process attach, after the run-time has run the library's static initializers (the
// application name among them). The flags are added to the host's, never taken away, not even at
// unload: the host may rely on them from then on.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    }
    return TRUE;
}
