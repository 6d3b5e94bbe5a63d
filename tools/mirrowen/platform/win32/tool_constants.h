// What the tool's commands say and do differently on Windows: the capture library's name, no
// adapter by default, no demo, and the words for what capturing needs there.
#pragma once

#include <string_view>

namespace mirrowen::tool::platform {

// The capture library, as the help and the messages name it: Npcap, which Windows users install
// (and which Wireshark brings), rather than the libpcap inside it.
inline constexpr std::string_view kCaptureLibrary = "Npcap";

// None: no adapter exists on every Windows machine (Npcap's loopback adapter is optional, and
// carries no Ethernet frames), so a capture needs -i.
inline constexpr std::string_view kDefaultDevice = "";
inline constexpr std::string_view kAdapterHelp =
    "Adapter to capture, as 'mirrowen list' names it: rpcap://\\Device\\NPF_{...} (required)";
// The demo's loopback traffic reaches no Ethernet adapter on Windows.
inline constexpr bool kHasDemo = false;

inline constexpr std::string_view kCaptureRights =
    "a capture library such as Npcap, installed with its driver running, and Administrator "
    "rights where it was installed to restrict capturing to Administrators";
// Where Mirrowen.dll put the capture library's reason for a failed adapter open.
inline constexpr std::string_view kAdapterReasonShown =
    "the capture library's reason was shown in a message box";
// What Mirrowen.dll leaves for a call into a folder that another capture is writing into:
// ERROR_SHARING_VIOLATION.
inline constexpr int kFolderInUseError = 32;
inline constexpr std::string_view kNoAdaptersHint =
    "is a capture library such as Npcap installed, with its driver running?";
inline constexpr std::string_view kNotEthernetHint =
    "choose an Ethernet adapter from 'mirrowen list' (Npcap's loopback adapter is not Ethernet)";

// What to install for `--show`, which runs the frames through tcpdump or tshark.
inline constexpr std::string_view kFrameViewerInstall =
    "install Wireshark, whose tshark.exe is looked for on PATH and in its default folder";

}  // namespace mirrowen::tool::platform
