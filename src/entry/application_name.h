#pragma once

#include <cstddef>

namespace mirrowen {

// Derives the application name from the path of the library file: the path is cut at its last
// dot, and of what remains the part after the last backslash, slash or colon is kept, truncated
// to fit `size` with its NUL. A path without a dot keeps its whole last component.
void DeriveApplicationName(const char* modulePath, char* name, std::size_t size);

// The name derived once, when the library was loaded, from the file it was loaded from.
const char* ApplicationName();

}  // namespace mirrowen
