#include "capture/capture_buffer.h"

#include <cstdint>

#include "mirrowen.h"
#include "platform/platform.h"

namespace mirrowen::capture {

std::size_t CaptureBufferBytes(const char* device) {
    char setting[32] = "";
    if (!platform::EnvironmentValue(MIRROWEN_CAPTURE_BUFFER_VARIABLE, setting, sizeof setting)) {
        setting[0] = '\0';
    }
    const std::uint32_t settingMiB = MirrowenCaptureBufferSettingMiB(setting);
    // The speed is looked up only where it decides.
    const std::uint64_t linkSpeed = settingMiB != 0 ? 0 : platform::LinkBitsPerSecond(device);
    return static_cast<std::size_t>(
        MirrowenCaptureBufferBytes(settingMiB, linkSpeed, platform::PhysicalMemoryBytes()));
}

}  // namespace mirrowen::capture
