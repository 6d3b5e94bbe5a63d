#include "capture_ring.h"

#include "mirrowen.h"
#include "platform/capture_ring_facts.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::string MiBText(std::uint64_t bytes) { return std::to_string(bytes / kMiB) + " MiB"; }

}  // namespace

std::string RingText(const std::string& device, std::optional<std::int64_t> bufferMiB,
                     std::uint64_t ringBytes) {
    const std::optional<std::string> setting =
        platform::EnvironmentValue(MIRROWEN_CAPTURE_BUFFER_VARIABLE);
    const std::uint32_t settingMiB =
        MirrowenCaptureBufferSettingMiB(setting ? setting->c_str() : "");
    const std::uint64_t linkSpeed = settingMiB != 0 ? 0 : platform::LinkBitsPerSecond(device);
    const std::uint64_t unbound = MirrowenCaptureBufferBytes(settingMiB, linkSpeed, 0);
    const std::uint64_t bytes =
        MirrowenCaptureBufferBytes(settingMiB, linkSpeed, platform::PhysicalMemoryBytes());
    const bool cut = bytes < unbound;

    std::string why;
    if (settingMiB != 0) {
        why = bufferMiB ? "-B" : MIRROWEN_CAPTURE_BUFFER_VARIABLE;
        if (cut) why += " asked for " + MiBText(unbound);
    } else if (linkSpeed == 0) {
        why = "the adapter reports no link speed";
    } else {
        const std::string atSpeed =
            "one second at the adapter's " + std::to_string(linkSpeed / 1'000'000) + " Mb/s";
        if (unbound == 0) {
            why = atSpeed + " is less than " + std::string(platform::kCaptureLibrary) + "'s own";
        } else if (unbound == MIRROWEN_LARGEST_DEFAULT_CAPTURE_BUFFER_MB * kMiB) {
            why = "the largest by default; " + atSpeed + " takes more";
        } else {
            why = atSpeed;
        }
    }
    if (cut) why += "; the ring never takes more than a sixteenth of the machine's memory";
    // libpcap rounds a ring to its blocks; only a ring smaller by more is one the system cut.
    if (ringBytes != 0 && ringBytes + kMiB <= bytes) {
        why += "; the system gave only " + MiBText(ringBytes);
    }
    const std::string ring =
        bytes != 0
            ? MiBText(bytes) + " capture ring"
            : "capture ring of " + std::string(platform::kCaptureLibrary) + "'s default size";
    return ring + " (" + why + ")";
}

}  // namespace mirrowen::tool
