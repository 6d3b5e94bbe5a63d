#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mirrowen::capture {

// The environment variable through which an operator sets the capture buffer's size, in MiB.
inline constexpr char kCaptureBufferVariable[] = "MIRROWEN_CAPTURE_BUFFER_MB";
// The largest setting: the capture library takes the size as an int of bytes.
inline constexpr std::uint64_t kLargestCaptureBufferMiB = 2047;

// How large a capture buffer to ask for, in bytes: `setting` (whole MiB, 1 to 2047, digits only)
// where it is one, else the default of 384 MiB; never more than a sixteenth of `physicalMemory`
// (0: unknown), and 0 (the capture library's own default) where that sixteenth is less than the
// smallest size worth asking for.
std::size_t CaptureBufferBytes(const char* setting, std::uint64_t physicalMemory);

// The same for this process's environment and this machine.
std::size_t CaptureBufferBytes();

// The sizes to ask the kernel or the driver for, in turn, until one is accepted: `firstBytes`
// (none for 0), then half of the size before, down to the smallest size worth asking for. Where
// none is accepted, the capture library's own default stays.
class CaptureBufferSizes {
  public:
    explicit CaptureBufferSizes(std::size_t firstBytes);

    std::span<const std::size_t> InTurn() const { return std::span(sizes_).first(count_); }

  private:
    // 2047 MiB halved down to 2 MiB gives ten sizes.
    std::array<std::size_t, 10> sizes_{};
    std::size_t count_ = 0;
};

}  // namespace mirrowen::capture
