#include "frames.h"

#include <cstring>
#include <stdexcept>

namespace mirrowen::testing {

namespace {

constexpr unsigned char kDestination[6] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x02};
constexpr unsigned char kSource[6] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
constexpr unsigned char kTestMarker = 0xA5;
constexpr unsigned char kProbeMarker = 0x5A;
constexpr std::size_t kMarkerOffset = 14;
constexpr std::size_t kHeaderSize = 22;  // addresses, type, marker, 3 spare, sequence
constexpr std::size_t kProbeSize = 100;

std::vector<unsigned char> MakeFrame(std::size_t size, std::uint32_t sequence,
                                     unsigned char marker) {
    if (size < kHeaderSize) throw std::invalid_argument("frame too short");
    std::vector<unsigned char> frame(size);
    std::memcpy(frame.data(), kDestination, 6);
    std::memcpy(frame.data() + 6, kSource, 6);
    frame[12] = kTestEtherType >> 8;
    frame[13] = kTestEtherType & 0xFF;
    frame[kMarkerOffset] = marker;
    for (std::size_t i = 0; i < 4; ++i) {
        frame[18 + i] = static_cast<unsigned char>(sequence >> (24 - 8 * i));
    }
    for (std::size_t i = kHeaderSize; i < size; ++i) {
        frame[i] = static_cast<unsigned char>(i * 7 + sequence);
    }
    return frame;
}

Bytes Be16(unsigned value) {
    return {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

}  // namespace

std::vector<unsigned char> MakeTestFrame(std::size_t size, std::uint32_t sequence) {
    return MakeFrame(size, sequence, kTestMarker);
}

std::vector<unsigned char> MakeProbeFrame(std::uint32_t sequence) {
    return MakeFrame(kProbeSize, sequence, kProbeMarker);
}

bool IsProbeFrame(const std::vector<unsigned char>& frame) {
    return frame.size() == kProbeSize && frame[kMarkerOffset] == kProbeMarker;
}

bool IsIntactFrame(const std::vector<unsigned char>& frame) {
    if (frame.size() < kHeaderSize) return false;
    const unsigned char marker = frame[kMarkerOffset];
    if (marker != kTestMarker && marker != kProbeMarker) return false;
    std::uint32_t sequence = 0;
    for (std::size_t i = 18; i < 22; ++i) sequence = sequence << 8 | frame[i];
    return frame == MakeFrame(frame.size(), sequence, marker);
}

Bytes Concatenate(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

Bytes EthernetFrame(const Bytes& destination, const Bytes& source, std::uint16_t type,
                    const Bytes& payload) {
    return Concatenate({destination, source, Be16(type), payload});
}

Bytes Ipv4Packet(std::uint8_t protocol, const Bytes& source, const Bytes& destination,
                 const Bytes& payload, const Bytes& options, std::uint16_t fragment,
                 std::uint16_t id) {
    const std::size_t headerLength = 20 + options.size();
    Bytes header = Concatenate({{static_cast<unsigned char>(0x40 | headerLength / 4), 0},
                                Be16(static_cast<unsigned>(headerLength + payload.size())),
                                Be16(id),
                                Be16(fragment),
                                {64, protocol, 0, 0},
                                source,
                                destination,
                                options});
    unsigned sum = 0;
    for (std::size_t index = 0; index < header.size(); index += 2) {
        sum += static_cast<unsigned>(header[index] << 8 | header[index + 1]);
    }
    while (sum > 0xffff) sum = (sum & 0xffff) + (sum >> 16);
    header[10] = static_cast<unsigned char>(~sum >> 8);
    header[11] = static_cast<unsigned char>(~sum);
    return Concatenate({header, payload});
}

Bytes Ipv6Packet(std::uint8_t next, const Bytes& source, const Bytes& destination,
                 const Bytes& payload) {
    return Concatenate({{0x60, 0, 0, 0},
                        Be16(static_cast<unsigned>(payload.size())),
                        {next, 64},
                        source,
                        destination,
                        payload});
}

Bytes UdpDatagram(std::uint16_t sourcePort, std::uint16_t destinationPort, const Bytes& payload) {
    return Concatenate({Be16(sourcePort),
                        Be16(destinationPort),
                        Be16(static_cast<unsigned>(8 + payload.size())),
                        {0, 0},
                        payload});
}

Bytes TcpSegment(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags,
                 const Bytes& payload) {
    return Concatenate({Be16(sourcePort),
                        Be16(destinationPort),
                        {0, 0, 0, 1, 0, 0, 0, 0},
                        {5 << 4, flags},
                        Be16(65535),
                        {0, 0, 0, 0},
                        payload});
}

}  // namespace mirrowen::testing
