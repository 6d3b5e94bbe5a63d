#pragma once

#include <cstddef>

namespace mirrowen {

// Derives the application name from the path of the library file: the part after the last
// backslash, slash or colon, cut at its last dot, truncated to fit `size` with its NUL. A file
// name without a dot is kept whole.
void DeriveApplicationName(const char* modulePath, char* name, std::size_t size);

// The name derived once, when the library was loaded, from the file it was loaded from.
const char* ApplicationName();

}  // namespace mirrowen
