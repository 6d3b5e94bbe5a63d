#include "entry/application_name.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace mirrowen {

namespace {

char applicationName[platform::kPathLimit];

// Runs while the library is being loaded, before any call can ask for the name; afterwards the
// name is only read.
struct NameAtLoad {
    NameAtLoad() noexcept {
        char path[platform::kPathLimit];
        platform::ModulePath(path, sizeof path);
        DeriveApplicationName(path, applicationName, sizeof applicationName);
    }
} nameAtLoad;

bool IsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

void DeriveApplicationName(const char* modulePath, char* name, std::size_t size) {
    if (size == 0) return;
    const char* end = std::strrchr(modulePath, '.');
    if (end == nullptr) end = modulePath + std::strlen(modulePath);
    const char* start = end;
    while (start != modulePath && !IsPathSeparator(start[-1])) --start;
    const std::size_t length = std::min(static_cast<std::size_t>(end - start), size - 1);
    std::memcpy(name, start, length);
    name[length] = '\0';
}

const char* ApplicationName() { return applicationName; }

}  // namespace mirrowen
