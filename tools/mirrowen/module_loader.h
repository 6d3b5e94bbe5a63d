// Loads the capture module at run time and binds its one function by name, as any host does.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mirrowen.h"

namespace mirrowen::tool {

struct LoadedModule {
    std::shared_ptr<void> handle;  // unloaded on release
    MirrowenFunction function = nullptr;
    std::string path;
};

// Loads the module at explicitPath, or, when that is empty, from the default places relative to
// this executable. On failure prints one line that says what was tried and returns nothing.
std::optional<LoadedModule> LoadModule(const std::string& explicitPath);

}  // namespace mirrowen::tool
