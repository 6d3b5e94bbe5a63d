// Loading the capture module at run time. Each platform folder implements it in its module.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mirrowen::tool::platform {

// Where the module is looked for when no path is given, relative to this program's executable.
std::vector<std::filesystem::path> DefaultModulePaths();
// Loads a module; nullptr with the system's reason, naming the file, in `error`.
void* LoadModule(const std::filesystem::path& path, std::string& error);
void* ModuleFunction(void* module, const char* name);
void UnloadModule(void* module);

}  // namespace mirrowen::tool::platform
