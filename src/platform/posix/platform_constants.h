// What the steps need to know of POSIX file names: the separator and the longest path.
#pragma once

#include <cstddef>

namespace mirrowen::platform {

inline constexpr char kSeparator = '/';
inline constexpr std::size_t kPathLimit = 4096;  // PATH_MAX, with the NUL

}  // namespace mirrowen::platform
