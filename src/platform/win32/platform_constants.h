// What the steps need to know of Windows file names: the separator and the longest path, and the
// system's codes for the failures that the steps find before any system call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mirrowen.h"
#include "platform/system_error.h"

namespace mirrowen::platform {

inline constexpr char kSeparator = MIRROWEN_PATH_SEPARATOR[0];
inline constexpr std::size_t kPathLimit = 260;  // MAX_PATH, with the NUL

// Numbered here without windows.h, which the steps never include; file_system.cpp checks them.
// A packet file's name that would pass kPathLimit: ERROR_FILENAME_EXCED_RANGE.
inline constexpr SystemError kNameTooLong{206};
// A packet file's number that would pass the largest 32-bit count: ERROR_ARITHMETIC_OVERFLOW.
inline constexpr SystemError kNumbersUsedUp{534};

// A FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC; capture times count from 1970.
inline constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
inline constexpr std::int64_t kFileTimeIntervalsPerSecond = 10000000;

}  // namespace mirrowen::platform
