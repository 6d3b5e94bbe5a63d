// The capture module on POSIX, loaded with dlopen.
#include <dlfcn.h>

#include <system_error>

#include "platform/module.h"

namespace mirrowen::tool::platform {

// Where an install puts the module, then beside the executable (the build tree).
std::vector<std::filesystem::path> DefaultModulePaths() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path directory = executable.parent_path();
    return {
        (directory / MIRROWEN_MODULE_FROM_BINDIR / MIRROWEN_MODULE_FILE_NAME).lexically_normal(),
        directory / MIRROWEN_MODULE_FILE_NAME};
}

void* LoadModule(const std::filesystem::path& path, std::string& error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    // dlerror's text names the file. glibc and musl keep it per thread, so the call is thread-safe
    // here, though POSIX does not promise it.
    if (module == nullptr) error = dlerror();  // NOLINT(concurrency-mt-unsafe)
    return module;
}

void* ModuleFunction(void* module, const char* name) { return dlsym(module, name); }

void UnloadModule(void* module) { dlclose(module); }

}  // namespace mirrowen::tool::platform
