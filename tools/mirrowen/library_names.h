// The names the module gives and takes, for everything around it that must agree with it: its
// packet files are <n>.hda, each a frame of at most the capture's snapshot length, and it drops the
// adapter name's first 8 bytes, written "rpcap://".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mirrowen {

inline constexpr std::string_view kAdapterPrefix = "rpcap://";
// The capture's snapshot length: the largest frame a packet file holds.
inline constexpr std::int64_t kSnapshotLength = 65536;

inline std::string AdapterName(std::string_view device) {
    return std::string(kAdapterPrefix) + std::string(device);
}

inline std::string PacketFileName(std::int64_t number) { return std::to_string(number) + ".hda"; }

}  // namespace mirrowen
