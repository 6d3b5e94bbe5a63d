// The capture module on Windows: Mirrowen.dll, loaded from beside the executable.
#include <windows.h>

#include "platform/module.h"
#include "platform/process.h"

namespace mirrowen::tool::platform {

// Beside the executable, as the package lays them out and the build tree too.
std::vector<std::filesystem::path> DefaultModulePaths() {
    std::string executable(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, executable.data(), static_cast<DWORD>(executable.size()));
        if (length == 0) return {};
        if (length < executable.size()) {
            executable.resize(length);
            break;
        }
        executable.resize(executable.size() * 2);
    }
    return {std::filesystem::path(executable).parent_path() / MIRROWEN_MODULE_FILE_NAME};
}

void* LoadModule(const std::filesystem::path& path, std::string& error) {
    const std::string name = path.string();
    HMODULE module = LoadLibraryA(name.c_str());
    if (module == nullptr) error = name + ": " + SystemErrorText(static_cast<int>(GetLastError()));
    return module;
}

void* ModuleFunction(void* module, const char* name) {
    // GetProcAddress hands back a generic function pointer; the caller knows the real type.
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace mirrowen::tool::platform
