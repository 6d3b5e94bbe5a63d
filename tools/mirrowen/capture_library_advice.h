// What the commands advise where the capture library could not be loaded (wpcap.dll, which only
// Windows loads at run time).
#pragma once

#include <string>
#include <string_view>

#include "platform/capture_library.h"

namespace mirrowen::tool {

inline constexpr std::string_view kInstallCaptureLibrary =
    "install a capture library such as Npcap (https://npcap.com)";

// "; install ..." after a reason where the capture library is missing; empty otherwise.
inline std::string CaptureLibraryAdvice() {
    return platform::CaptureLibraryMissing() ? "; " + std::string(kInstallCaptureLibrary)
                                             : std::string();
}

}  // namespace mirrowen::tool
