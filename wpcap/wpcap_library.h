// Finding and binding wpcap.dll, the same for Mirrowen.dll, at its first call, and for the mirrowen
// tool, for what it asks of the capture library itself (its adapter list, filters). Each declares
// the functions it binds in its own header.
#pragma once

#include <windows.h>

namespace mirrowen::platform {

// Loads wpcap.dll by the usual DLL search, then from the Npcap folder of the system directory;
// nullptr with the default search's reason as the last error.
HMODULE LoadWpcap();

// Binds one function of wpcap.dll by name; false, with the last error set, where it has none.
template <typename Function>
bool BindWpcap(HMODULE wpcap, const char* name, Function& function) {
    // GetProcAddress hands back a generic function pointer; the declared type is the real one.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(wpcap, name)));
    return function != nullptr;
}

}  // namespace mirrowen::platform
