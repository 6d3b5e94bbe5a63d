#include "common/application_name.h"

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
    // The last component first, so that a dot in a folder name never cuts the name.
    const char* start = modulePath;
    for (const char* cursor = modulePath; *cursor != '\0'; ++cursor) {
        if (IsPathSeparator(*cursor)) start = cursor + 1;
    }
    const char* end = std::strrchr(start, '.');
    if (end == nullptr) end = start + std::strlen(start);
    const std::size_t length = std::min(static_cast<std::size_t>(end - start), size - 1);
    std::memcpy(name, start, length);
    name[length] = '\0';
}

const char* ApplicationName() { return applicationName; }

}  // namespace mirrowen
