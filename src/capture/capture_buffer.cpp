#include "capture/capture_buffer.h"

#include <charconv>
#include <cstring>

#include "platform/platform.h"

namespace mirrowen::capture {

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
// A 1514-byte frame takes about 1.6 kB of the buffer, so 256 MiB hold some 160,000 of them: a
// full-speed burst of 200,000 on a veth pair is kept whole while the store loop drains it (see
// docs/performance.md for the measurements behind this).
constexpr std::uint64_t kDefaultMiB = 256;
// The capture library takes the size as an int of bytes.
constexpr std::uint64_t kLargestMiB = 2047;
constexpr std::uint64_t kShareOfMemory = 16;
// Below this, the capture library's default is at least as large.
constexpr std::uint64_t kSmallestBoundedBytes = 2 * kMiB;

// The setting's MiB, or 0 when it is not a whole number from 1 to kLargestMiB.
std::uint64_t SettingMiB(const char* setting) {
    if (setting == nullptr) return 0;
    const char* end = setting + std::strlen(setting);
    std::uint64_t mib = 0;
    const auto [stop, error] = std::from_chars(setting, end, mib);
    if (error != std::errc{} || stop != end || mib > kLargestMiB) return 0;
    return mib;
}

}  // namespace

std::size_t CaptureBufferBytes(const char* setting, std::uint64_t physicalMemory) {
    const std::uint64_t mib = SettingMiB(setting);
    std::uint64_t bytes = (mib != 0 ? mib : kDefaultMiB) * kMiB;
    const std::uint64_t bound = physicalMemory / kShareOfMemory;
    if (physicalMemory != 0 && bytes > bound) bytes = bound < kSmallestBoundedBytes ? 0 : bound;
    return static_cast<std::size_t>(bytes);
}

std::size_t CaptureBufferBytes() {
    char setting[32];
    const bool set = platform::EnvironmentValue(kCaptureBufferVariable, setting, sizeof setting);
    return CaptureBufferBytes(set ? setting : nullptr, platform::PhysicalMemoryBytes());
}

}  // namespace mirrowen::capture
