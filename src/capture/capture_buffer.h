#pragma once

#include <cstddef>
#include <cstdint>

namespace mirrowen::capture {

// The environment variable through which an operator sets the capture buffer's size, in MiB.
inline constexpr char kCaptureBufferVariable[] = "MIRROWEN_CAPTURE_BUFFER_MB";
// The largest setting: the capture library takes the size as an int of bytes.
inline constexpr std::uint64_t kLargestCaptureBufferMiB = 2047;

// How large a capture buffer to ask for, in bytes: `setting` (whole MiB, 1 to 2047, digits only)
// where it is one, else the default of 384 MiB; never more than a sixteenth of `physicalMemory`
// (0: unknown), and 0 (the capture library's own default) where that sixteenth is less than 2 MiB.
std::size_t CaptureBufferBytes(const char* setting, std::uint64_t physicalMemory);

// The same for this process's environment and this machine.
std::size_t CaptureBufferBytes();

}  // namespace mirrowen::capture
