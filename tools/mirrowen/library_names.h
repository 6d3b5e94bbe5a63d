// The tool's reading of the names and limits that the module's header gives its hosts (mirrowen.h):
// its packet files are <n>.hda, numbered from 1 within 32 bits, each a frame of more than 60 bytes
// and at most the capture's snapshot length; it drops the adapter name's first 8 bytes, written
// "rpcap://".
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mirrowen.h"

namespace mirrowen {

inline constexpr std::string_view kAdapterPrefix = MIRROWEN_ADAPTER_PREFIX;
inline constexpr std::string_view kPacketFileExtension = MIRROWEN_PACKET_FILE_EXTENSION;
// Frames of this many captured bytes or fewer are never stored.
inline constexpr int kLargestUnstoredFrame = MIRROWEN_LARGEST_SKIPPED_FRAME;
// The capture's snapshot length: the largest frame a packet file holds.
inline constexpr std::int64_t kSnapshotLength = MIRROWEN_SNAPSHOT_LENGTH;

inline std::string AdapterName(std::string_view device) {
    return std::string(kAdapterPrefix) + std::string(device);
}

inline std::string PacketFileName(std::int64_t number) {
    return std::to_string(number) + std::string(kPacketFileExtension);
}

// The number of a packet file's name as the module writes it ("17.hda": 17; no sign, no leading
// zero, 1 to 2147483647), or nothing for any other name.
inline std::optional<std::int32_t> PacketFileNumber(std::string_view name) {
    if (!name.ends_with(kPacketFileExtension)) return std::nullopt;
    const std::string_view digits = name.substr(0, name.size() - kPacketFileExtension.size());
    if (digits.empty() || digits.front() < '1' || digits.front() > '9') return std::nullopt;
    std::int32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    return number;
}

}  // namespace mirrowen
