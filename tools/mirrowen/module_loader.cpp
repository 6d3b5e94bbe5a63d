#include "module_loader.h"

#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "platform/module.h"

namespace mirrowen::tool {

namespace {

std::optional<LoadedModule> LoadFrom(const std::filesystem::path& path) {
    std::string error;
    void* handle = platform::LoadModule(path, error);
    if (handle == nullptr) {
        std::cerr << "mirrowen: cannot load the capture module: " << error << '\n';
        return std::nullopt;
    }
    LoadedModule module{std::shared_ptr<void>(handle, platform::UnloadModule), nullptr,
                        path.string()};
    void* symbol = platform::ModuleFunction(handle, "Mirrowen");
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

    const std::vector<std::filesystem::path> candidates = platform::DefaultModulePaths();
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) return LoadFrom(candidate);
    }
    std::cerr << "mirrowen: cannot find the capture module " << MIRROWEN_MODULE_FILE_NAME
              << " (looked for it as";
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        std::cerr << (index == 0 ? " " : ", then ") << candidates[index].string();
    }
    std::cerr << "); give its path with --library PATH\n";
    return std::nullopt;
}

}  // namespace mirrowen::tool
