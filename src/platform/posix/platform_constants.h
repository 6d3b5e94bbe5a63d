// What the steps need to know of POSIX file names: the separator and the longest path, and the
// system's codes for the failures that the steps find before any system call.
#pragma once

#include <cerrno>
#include <cstddef>

#include "mirrowen.h"
#include "platform/system_error.h"

namespace mirrowen::platform {

inline constexpr char kSeparator = MIRROWEN_PATH_SEPARATOR[0];
inline constexpr std::size_t kPathLimit = 4096;  // PATH_MAX, with the NUL

// A packet file's name that would pass kPathLimit.
inline constexpr SystemError kNameTooLong{ENAMETOOLONG};
// A packet file's number that would pass the largest 32-bit count.
inline constexpr SystemError kNumbersUsedUp{EOVERFLOW};

}  // namespace mirrowen::platform
