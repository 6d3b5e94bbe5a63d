#include "capture/capture_buffer.h"

#include <charconv>
#include <cstring>

#include "platform/platform.h"

namespace mirrowen::capture {

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
// A 1514-byte frame takes 1,600 bytes of the buffer, so 384 MiB hold some 250,000 of them: a
// whole second of 250,000 frames/s, kept even while the store loop is held up. Why not less or
// more: docs/performance.md, "Capture buffer", measures what each size keeps and costs.
constexpr std::uint64_t kDefaultMiB = 384;
constexpr std::uint64_t kShareOfMemory = 16;
// Below this, the capture library's own default is at least as large (2 MiB on Linux, 1 MiB for
// Npcap's driver), so a smaller size is never asked for.
constexpr std::uint64_t kSmallestBytes = 2 * kMiB;

// The setting's MiB, or 0 when it is not a whole number from 1 to kLargestCaptureBufferMiB.
std::uint64_t SettingMiB(const char* setting) {
    if (setting == nullptr) return 0;
    const char* end = setting + std::strlen(setting);
    std::uint64_t mib = 0;
    const auto [stop, error] = std::from_chars(setting, end, mib);
    if (error != std::errc{} || stop != end || mib > kLargestCaptureBufferMiB) return 0;
    return mib;
}

}  // namespace

std::size_t CaptureBufferBytes(const char* setting, std::uint64_t physicalMemory) {
    const std::uint64_t mib = SettingMiB(setting);
    std::uint64_t bytes = (mib != 0 ? mib : kDefaultMiB) * kMiB;
    const std::uint64_t bound = physicalMemory / kShareOfMemory;
    if (physicalMemory != 0 && bytes > bound) bytes = bound < kSmallestBytes ? 0 : bound;
    return static_cast<std::size_t>(bytes);
}

std::size_t CaptureBufferBytes() {
    char setting[32];
    const bool set = platform::EnvironmentValue(kCaptureBufferVariable, setting, sizeof setting);
    return CaptureBufferBytes(set ? setting : nullptr, platform::PhysicalMemoryBytes());
}

CaptureBufferSizes::CaptureBufferSizes(std::size_t firstBytes) {
    if (firstBytes == 0) return;
    // The first size is asked for whatever it is: an operator may want less than the default.
    sizes_[count_++] = firstBytes;
    for (std::size_t size = firstBytes / 2; size >= kSmallestBytes && count_ < sizes_.size();
         size /= 2) {
        sizes_[count_++] = size;
    }
}

}  // namespace mirrowen::capture
