#include "wine_test_support.h"

#include <windows.h>

#include <stdexcept>

namespace mirrowen::testing {

std::string BesideThisProgram(const std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

MirrowenFunction LoadMirrowen(const std::string& dllPath) {
    const HMODULE module = LoadLibraryA(dllPath.c_str());
    if (module == nullptr) throw std::runtime_error("cannot load " + dllPath);
    const auto function = reinterpret_cast<MirrowenFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "Mirrowen")));
    if (function == nullptr) throw std::runtime_error("no Mirrowen in " + dllPath);
    return function;
}

MirrowenFunction TheMirrowen() {
    static const MirrowenFunction function = LoadMirrowen(BesideThisProgram("Mirrowen.dll"));
    return function;
}

std::vector<char> PathBuffer(const std::string& path) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return buffer;
}

}  // namespace mirrowen::testing
