#include "frame_summary.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform/tool_platform.h"
#include "printed_text.h"

namespace mirrowen::tool {

namespace {

using Bytes = std::span<const unsigned char>;

constexpr std::size_t kEthernetHeader = 14;
constexpr unsigned kSmallestEtherType = 0x0600;  // smaller values are 802.3 length fields
constexpr unsigned kIpv4 = 0x0800;
constexpr unsigned kArp = 0x0806;
constexpr unsigned kIpv6 = 0x86dd;

constexpr std::size_t kIpv4Header = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::size_t kSmallestExtensionHeader = 8;

constexpr unsigned kIcmp = 1;
constexpr unsigned kTcp = 6;
constexpr unsigned kUdp = 17;
constexpr unsigned kIcmpv6 = 58;
constexpr unsigned kHopByHop = 0;
constexpr unsigned kRouting = 43;
constexpr unsigned kFragment = 44;
constexpr unsigned kAuthentication = 51;
constexpr unsigned kDestinationOptions = 60;
constexpr unsigned kMobility = 135;

constexpr std::pair<unsigned, const char*> kEtherTypeNames[] = {
    {kIpv4, "IPv4"},
    {kArp, "ARP"},
    {0x8035, "RARP"},
    {kIpv6, "IPv6"},
    {0x8100, "802.1Q"},
    {0x88a8, "802.1Q-QinQ"},
    {0x9100, "802.1Q-9100"},
    {0x8847, "MPLS unicast"},
    {0x8848, "MPLS multicast"},
    {0x8863, "PPPoE D"},
    {0x8864, "PPPoE S"},
    {0x888e, "EAPOL"},
    {0x88cc, "LLDP"},
    {0x88f7, "PTP"},
    {0x9000, "Loopback"},
};

constexpr std::pair<unsigned, const char*> kIcmpNames[] = {
    {0, "echo reply"},   {3, "unreachable"},    {5, "redirect"},
    {8, "echo request"}, {11, "time exceeded"},
};

constexpr std::pair<unsigned, const char*> kIcmpv6Names[] = {
    {1, "unreachable"},
    {2, "packet too big"},
    {3, "time exceeded"},
    {128, "echo request"},
    {129, "echo reply"},
    {133, "router solicitation"},
    {134, "router advertisement"},
    {135, "neighbor solicitation"},
    {136, "neighbor advertisement"},
};

template <std::size_t N>
const char* NameOf(unsigned value, const std::pair<unsigned, const char*> (&names)[N]) {
    for (const auto& [known, name] : names) {
        if (known == value) return name;
    }
    return nullptr;
}

// The bytes from `offset` on; none when `offset` is past the end.
Bytes From(Bytes bytes, std::size_t offset) {
    return offset < bytes.size() ? bytes.subspan(offset) : Bytes{};
}

// Big-endian fields, read only where the caller has checked that the bytes are there.
unsigned Be16(Bytes bytes, std::size_t offset) {
    return static_cast<unsigned>(bytes[offset] << 8 | bytes[offset + 1]);
}

std::uint32_t Be32(Bytes bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(Be16(bytes, offset)) << 16 | Be16(bytes, offset + 2);
}

std::string Number(std::size_t value) { return std::to_string(value); }

std::string Hex(unsigned value, int digits) {
    char text[16];
    return PrintedText(text, std::snprintf(text, sizeof text, "0x%0*x", digits, value));
}

std::string MacAddress(Bytes address) {
    char text[18];
    return PrintedText(text,
                       std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0],
                                     address[1], address[2], address[3], address[4], address[5]));
}

std::string Ipv4Address(Bytes address) {
    char text[16];  // "255.255.255.255"
    return PrintedText(text, std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1],
                                           address[2], address[3]));
}

// The text inet_ntop gives on Linux (the BSD rules, which tcpdump prints): groups in hex without
// leading zeros, the first longest run of two or more zero groups as "::", and the last 32 bits
// as an IPv4 address after 96 zero bits or after ::ffff.
std::string Ipv6Address(Bytes address) {
    unsigned groups[8];
    for (std::size_t group = 0; group < 8; ++group) groups[group] = Be16(address, 2 * group);
    // The first longest run of zero groups; only a run of two or more is written as "::".
    std::size_t runStart = 0;
    std::size_t runLength = 0;
    for (std::size_t group = 0; group < 8;) {
        std::size_t end = group;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - group > runLength) {
            runStart = group;
            runLength = end - group;
        }
        group = end == group ? group + 1 : end;
    }
    if (runLength < 2) runLength = 0;
    const std::size_t runEnd = runStart + runLength;

    std::string text;
    for (std::size_t group = 0; group < 8; ++group) {
        if (group >= runStart && group < runEnd) {
            if (group == runStart) text += ':';
            continue;
        }
        if (group != 0) text += ':';
        if (group == 6 && runStart == 0 &&
            (runLength == 6 || (runLength == 5 && groups[5] == 0xffff))) {
            text += Ipv4Address(address.subspan(12, 4));
            return text;
        }
        char hex[5];
        text += PrintedText(hex, std::snprintf(hex, sizeof hex, "%x", groups[group]));
    }
    if (runLength != 0 && runEnd == 8) text += ':';
    return text;
}

// "ethertype IPv4 (0x0800)", or "802.3" for a length field.
std::string TypeText(unsigned type) {
    if (type < kSmallestEtherType) return "802.3";
    const char* name = NameOf(type, kEtherTypeNames);
    return std::string("ethertype ") + (name != nullptr ? name : "Unknown") + " (" + Hex(type, 4) +
           ")";
}

bool IsVlanTag(unsigned type) { return type == 0x8100 || type == 0x88a8 || type == 0x9100; }

bool IsExtensionHeader(unsigned next) {
    return next == kHopByHop || next == kRouting || next == kFragment || next == kAuthentication ||
           next == kDestinationOptions || next == kMobility;
}

std::string ProtocolName(unsigned protocol) {
    switch (protocol) {
        case kIcmp:
            return "ICMP";
        case kTcp:
            return "TCP";
        case kUdp:
            return "UDP";
        case kIcmpv6:
            return "ICMPv6";
        default:
            return "ip-proto-" + Number(protocol);
    }
}

// The bytes an IP header claims beyond those the frame holds.
void AppendMissing(std::string& out, std::size_t claimedEnd, std::size_t available) {
    if (claimedEnd > available) out += " (" + Number(claimedEnd - available) + " bytes missing)";
}

void AppendLlc(std::string& out, Bytes llc) {
    if (llc.size() < 3) {
        out += "LLC [|llc]";
        return;
    }
    out += "LLC, dsap " + Hex(llc[0], 2) + ", ssap " + Hex(llc[1], 2) + ", ctrl " + Hex(llc[2], 2);
}

void AppendArp(std::string& out, Bytes arp) {
    out += "ARP";
    if (arp.size() < 8) {
        out += " [|arp]";
        return;
    }
    const unsigned operation = Be16(arp, 6);
    const bool ethernetIpv4 =
        Be16(arp, 0) == 1 && Be16(arp, 2) == kIpv4 && arp[4] == 6 && arp[5] == 4;
    if (!ethernetIpv4 || (operation != 1 && operation != 2)) {
        out += ", op " + Number(operation);
        return;
    }
    if (arp.size() < 28) {
        out += " [|arp]";
        return;
    }
    if (operation == 1) {
        out += ", Request who-has " + Ipv4Address(arp.subspan(24, 4)) + " tell " +
               Ipv4Address(arp.subspan(14, 4));
    } else {
        out += ", Reply " + Ipv4Address(arp.subspan(14, 4)) + " is-at " +
               MacAddress(arp.subspan(8, 6));
    }
}

std::string TcpFlags(unsigned flags) {
    // tcpdump's letters and order: FIN, SYN, RST, PSH, ACK ("."), URG, ECE, CWR.
    static constexpr std::pair<unsigned, char> kLetters[] = {
        {0x01, 'F'}, {0x02, 'S'}, {0x04, 'R'}, {0x08, 'P'},
        {0x10, '.'}, {0x20, 'U'}, {0x40, 'E'}, {0x80, 'W'},
    };
    std::string text;
    for (const auto& [bit, letter] : kLetters) {
        if ((flags & bit) != 0) text += letter;
    }
    return text.empty() ? "none" : text;
}

void AppendTcp(std::string& out, Bytes segment, std::size_t claimed) {
    if (segment.size() < 14) {
        out += " [|tcp]";
        return;
    }
    out += ", Flags [" + TcpFlags(segment[13]) + "]";
    const std::size_t headerLength = (std::size_t{segment[12]} >> 4) * 4;
    if (headerLength < 20 || headerLength > claimed) {
        out += ", bad header length " + Number(headerLength);
        return;
    }
    out += ", length " + Number(claimed - headerLength);
}

void AppendUdp(std::string& out, Bytes datagram) {
    if (datagram.size() < 8) {
        out += " [|udp]";
        return;
    }
    // The header's length, not the packet's: a first fragment carries only part of the datagram.
    const std::size_t length = Be16(datagram, 4);
    out += length < 8 ? ", bad length " + Number(length) : ", length " + Number(length - 8);
}

void AppendIcmp(std::string& out, Bytes message, std::size_t claimed, bool version6) {
    if (message.size() < 2) {
        out += " [|icmp]";
        return;
    }
    const unsigned type = message[0];
    const unsigned code = message[1];
    const char* name = version6 ? NameOf(type, kIcmpv6Names) : NameOf(type, kIcmpNames);
    if (name == nullptr) {
        out += " type " + Number(type) + " code " + Number(code);
    } else {
        out += std::string(" ") + name;
        if (code != 0) out += " code " + Number(code);
    }
    out += ", length " + Number(claimed);
}

// "<source>[.port] > <destination>[.port]: <protocol>, ...". Without its header (a later
// fragment) only the protocol and the bytes this packet carries are known.
void AppendTransport(std::string& out, unsigned protocol, const std::string& source,
                     const std::string& destination, Bytes segment, std::size_t claimed,
                     bool headerPresent) {
    if (headerPresent && (protocol == kTcp || protocol == kUdp) && segment.size() >= 4) {
        out += source + "." + Number(Be16(segment, 0)) + " > " + destination + "." +
               Number(Be16(segment, 2));
    } else {
        out += source + " > " + destination;
    }
    out += ": " + ProtocolName(protocol);
    if (!headerPresent) {
        out += ", length " + Number(claimed);
        return;
    }
    switch (protocol) {
        case kTcp:
            AppendTcp(out, segment, claimed);
            break;
        case kUdp:
            AppendUdp(out, segment);
            break;
        case kIcmp:
        case kIcmpv6:
            AppendIcmp(out, segment, claimed, protocol == kIcmpv6);
            break;
        default:
            out += ", length " + Number(claimed);
            break;
    }
}

std::string FragmentText(std::uint32_t id, std::size_t offset, bool more) {
    return ", frag id " + std::to_string(id) + " offset " + Number(offset) + (more ? "+" : "");
}

// Whether the packet holds a whole fixed header of this IP version; if not, says so as tcpdump
// does.
bool HasIpHeader(std::string& out, Bytes packet, unsigned version, std::size_t headerSize,
                 const char* truncated) {
    if (packet.size() < headerSize) {
        out += truncated;
        return false;
    }
    if (packet[0] >> 4 != version) {
        out += "bad IPv" + Number(version) + " version " + Number(packet[0] >> 4);
        return false;
    }
    return true;
}

void AppendIpv4(std::string& out, Bytes packet) {
    if (!HasIpHeader(out, packet, 4, kIpv4Header, "[|ip]")) return;
    const std::string source = Ipv4Address(packet.subspan(12, 4));
    const std::string destination = Ipv4Address(packet.subspan(16, 4));
    const std::size_t headerLength = (std::size_t{packet[0]} & 0x0f) * 4;
    const std::size_t totalLength = Be16(packet, 2);
    if (headerLength < kIpv4Header || totalLength < headerLength) {
        out += source + " > " + destination + ": bad IPv4 header length " + Number(headerLength) +
               ", total length " + Number(totalLength);
        return;
    }
    if (headerLength > packet.size()) {
        out += source + " > " + destination + ": [|ip]";
        return;
    }
    // Ethernet pads short packets: the datagram ends where its header says.
    const Bytes datagram = packet.first(std::min(totalLength, packet.size()));
    const unsigned fragment = Be16(packet, 6);
    const std::size_t fragmentOffset = (std::size_t{fragment} & 0x1fff) * 8;
    const bool moreFragments = (fragment & 0x2000) != 0;
    AppendTransport(out, packet[9], source, destination, From(datagram, headerLength),
                    totalLength - headerLength, fragmentOffset == 0);
    if (fragmentOffset != 0 || moreFragments) {
        out += FragmentText(Be16(packet, 4), fragmentOffset, moreFragments);
    }
    AppendMissing(out, totalLength, packet.size());
}

void AppendIpv6(std::string& out, Bytes packet) {
    if (!HasIpHeader(out, packet, 6, kIpv6Header, "[|ip6]")) return;
    const std::string source = Ipv6Address(packet.subspan(8, 16));
    const std::string destination = Ipv6Address(packet.subspan(24, 16));
    const std::size_t payloadLength = Be16(packet, 4);
    // A payload length of 0 belongs to a jumbogram, whose length is in an option of the hop-by-hop
    // header that must come first: the frame's bytes count then. Without that header the payload
    // is empty, and what follows is Ethernet padding.
    const bool jumbogram = payloadLength == 0 && packet[6] == kHopByHop;
    const std::size_t claimedEnd = jumbogram ? packet.size() : kIpv6Header + payloadLength;
    const Bytes datagram = packet.first(std::min(claimedEnd, packet.size()));

    unsigned next = packet[6];
    std::size_t offset = kIpv6Header;
    bool transportHeaderPresent = true;
    std::string fragment;
    // Every extension header takes at least 8 bytes, so the walk ends within the datagram.
    while (transportHeaderPresent && IsExtensionHeader(next) &&
           offset + kSmallestExtensionHeader <= datagram.size()) {
        const Bytes header = datagram.subspan(offset);
        if (next == kFragment) {
            const unsigned field = Be16(header, 2);
            fragment = FragmentText(Be32(header, 4), field & 0xfff8, (field & 1) != 0);
            transportHeaderPresent = (field & 0xfff8) == 0;
            offset += kSmallestExtensionHeader;
        } else if (next == kAuthentication) {
            offset += (std::size_t{header[1]} + 2) * 4;
        } else {
            offset += (std::size_t{header[1]} + 1) * 8;
        }
        next = header[0];
    }
    // The datagram ends before an extension header, or before where the last one claims to end.
    if ((transportHeaderPresent && IsExtensionHeader(next)) || offset > datagram.size()) {
        out += source + " > " + destination + ": [|ip6]";
        AppendMissing(out, claimedEnd, packet.size());
        return;
    }
    AppendTransport(out, next, source, destination, From(datagram, offset), claimedEnd - offset,
                    transportHeaderPresent);
    out += fragment;
    AppendMissing(out, claimedEnd, packet.size());
}

// What follows an EtherType or 802.3 length field: VLAN tags, then the payload as far as it is
// known. `separator` goes before whatever is added.
void AppendPayload(std::string& out, unsigned type, Bytes payload, std::string_view separator) {
    // A loop rather than recursion: a frame may stack thousands of tags.
    while (IsVlanTag(type)) {
        out += separator;
        if (payload.size() < 4) {
            out += "[|vlan]";
            return;
        }
        const unsigned tag = Be16(payload, 0);
        type = Be16(payload, 2);
        out += "vlan " + Number(tag & 0x0fff) + ", p " + Number(tag >> 13);
        if ((tag & 0x1000) != 0) out += ", DEI";
        out += ", " + TypeText(type);
        payload = From(payload, 4);
        separator = ", ";
    }
    if (type < kSmallestEtherType) {
        out += separator;
        AppendLlc(out, payload);
    } else if (type == kIpv4) {
        out += separator;
        AppendIpv4(out, payload);
    } else if (type == kIpv6) {
        out += separator;
        AppendIpv6(out, payload);
    } else if (type == kArp) {
        out += separator;
        AppendArp(out, payload);
    }
}

}  // namespace

std::string SummarizeFrame(Bytes frame) {
    const std::string length = "length " + Number(frame.size());
    if (frame.size() < 12) return length + ": [|ether]";
    std::string out = MacAddress(frame.subspan(6, 6)) + " > " + MacAddress(frame.first(6));
    if (frame.size() < kEthernetHeader) return out + ", " + length + ": [|ether]";
    const unsigned type = Be16(frame, 12);
    out += ", " + TypeText(type) + ", " + length;
    AppendPayload(out, type, From(frame, kEthernetHeader), ": ");
    return out;
}

std::string FrameLine(std::int64_t number, const timespec& captured, Bytes frame) {
    const std::tm local = platform::LocalTime(captured.tv_sec);
    char prefix[64];
    return PrintedText(prefix,
                       std::snprintf(prefix, sizeof prefix, "%lld %02d:%02d:%02d.%06ld ",
                                     static_cast<long long>(number), local.tm_hour, local.tm_min,
                                     local.tm_sec, static_cast<long>(captured.tv_nsec / 1000))) +
           SummarizeFrame(frame);
}

}  // namespace mirrowen::tool
