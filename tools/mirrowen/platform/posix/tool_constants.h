// What the tool's commands say and do differently on Linux: the capture library's name, the adapter
// a capture takes by default, the demo, and the words for what capturing needs.
#pragma once

#include <cerrno>
#include <string_view>

namespace mirrowen::tool::platform {

// The capture library, as the help and the messages name it.
inline constexpr std::string_view kCaptureLibrary = "libpcap";

// The loopback adapter, which every Linux machine has: the capture's adapter when -i is not given.
inline constexpr std::string_view kDefaultDevice = "lo";
inline constexpr std::string_view kAdapterHelp = "Adapter to capture, e.g. rpcap://eth0 or eth0";
// The demo captures loopback traffic that it sends itself, which Linux delivers as Ethernet frames.
inline constexpr bool kHasDemo = true;

inline constexpr std::string_view kCaptureRights =
    "root, or the capabilities CAP_NET_RAW and CAP_NET_ADMIN";
// Where the module put the capture library's reason for a failed adapter open.
inline constexpr std::string_view kAdapterReasonShown = "reason above";
// What the module leaves for a call into a folder that another capture is writing into.
inline constexpr int kFolderInUseError = EBUSY;
inline constexpr std::string_view kNoAdaptersHint = "listing some needs root";
inline constexpr std::string_view kNotEthernetHint =
    "choose an Ethernet or loopback adapter from 'mirrowen list' (pseudo-devices such as 'any' "
    "are not Ethernet)";

// What to install for `--show`, which runs the frames through tcpdump or tshark.
inline constexpr std::string_view kFrameViewerInstall =
    "install tcpdump (apt-get install tcpdump) or tshark";

}  // namespace mirrowen::tool::platform
