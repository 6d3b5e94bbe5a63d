#include <dlfcn.h>

#include <cstring>

#include "platform/platform.h"

namespace mirrowen::platform {

namespace {
// Any address inside the library names the file it was loaded from.
const char moduleAnchor = 0;
}  // namespace

void ModulePath(char* buffer, std::size_t size) {
    if (size == 0) return;
    Dl_info info{};
    const char* path = "";
    if (dladdr(&moduleAnchor, &info) != 0 && info.dli_fname != nullptr) path = info.dli_fname;
    const std::size_t length = strnlen(path, size - 1);
    std::memcpy(buffer, path, length);
    buffer[length] = '\0';
}

}  // namespace mirrowen::platform
