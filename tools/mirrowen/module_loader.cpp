#include "module_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

namespace mirrowen::tool {

namespace {

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

std::optional<LoadedModule> LoadFrom(const std::filesystem::path& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::cerr << "mirrowen: cannot load the capture module: " << dlerror() << '\n';
        return std::nullopt;
    }
    LoadedModule module{std::shared_ptr<void>(handle, dlclose), nullptr, path.string()};
    void* symbol = dlsym(handle, "Mirrowen");
    if (symbol == nullptr) {
        std::cerr << "mirrowen: " << path.string()
                  << " does not export Mirrowen; give the capture module with --library PATH\n";
        return std::nullopt;
    }
    module.function = reinterpret_cast<MirrowenFunction>(symbol);
    return module;
}

}  // namespace

std::optional<LoadedModule> LoadModule(const std::string& explicitPath) {
    if (!explicitPath.empty()) return LoadFrom(explicitPath);

    const std::vector<std::filesystem::path> candidates = DefaultModulePaths();
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) return LoadFrom(candidate);
    }
    std::cerr << "mirrowen: cannot find the capture module " << MIRROWEN_MODULE_FILE_NAME
              << " (looked for";
    for (const std::filesystem::path& candidate : candidates)
        std::cerr << ' ' << candidate.string();
    std::cerr << "); give its path with --library PATH\n";
    return std::nullopt;
}

}  // namespace mirrowen::tool
