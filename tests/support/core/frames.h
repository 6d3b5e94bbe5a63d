#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mirrowen::testing {

inline constexpr std::uint16_t kTestEtherType = 0x88B5;  // local experimental

// An Ethernet frame of exactly `size` bytes (at least 22): locally administered addresses,
// EtherType 0x88B5, a marker telling test frames from probes, a sequence number, and a filler
// derived from the sequence so that every byte is checked.
std::vector<unsigned char> MakeTestFrame(std::size_t size, std::uint32_t sequence);
std::vector<unsigned char> MakeProbeFrame(std::uint32_t sequence);
bool IsProbeFrame(const std::vector<unsigned char>& frame);
// Whether `frame` is a test or probe frame of its length, every byte as it was sent.
bool IsIntactFrame(const std::vector<unsigned char>& frame);

// Hand-built frames for the tool's filters and its `--show`. Addresses are made up (the
// documentation ranges 192.0.2.0/24, 198.51.100.0/24 and 2001:db8::/32); such frames travel only
// over a test's own veth pair, where nothing routes them. Checksums other than the IPv4 header's
// are left 0.
using Bytes = std::vector<unsigned char>;
Bytes EthernetFrame(const Bytes& destination, const Bytes& source, std::uint16_t type,
                    const Bytes& payload);
// `fragment` is the flags and offset field (0x2000: more fragments; the offset in 8-byte units).
Bytes Ipv4Packet(std::uint8_t protocol, const Bytes& source, const Bytes& destination,
                 const Bytes& payload, const Bytes& options = {}, std::uint16_t fragment = 0,
                 std::uint16_t id = 0);
Bytes Ipv6Packet(std::uint8_t next, const Bytes& source, const Bytes& destination,
                 const Bytes& payload);
Bytes UdpDatagram(std::uint16_t sourcePort, std::uint16_t destinationPort, const Bytes& payload);
Bytes TcpSegment(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags,
                 const Bytes& payload);
Bytes Concatenate(std::initializer_list<Bytes> parts);

}  // namespace mirrowen::testing
