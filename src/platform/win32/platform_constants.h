// What the steps need to know of Windows file names: the separator and the longest path.
#pragma once

#include <cstddef>

namespace mirrowen::platform {

inline constexpr char kSeparator = '\\';
inline constexpr std::size_t kPathLimit = 260;  // MAX_PATH, with the NUL

}  // namespace mirrowen::platform
