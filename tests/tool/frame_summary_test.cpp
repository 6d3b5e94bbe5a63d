// The line `mirrowen capture --show` prints for a frame, over crafted frames, whole and cut short:
// a packet file is untrusted, and the summary must say what it can without reading past its end
// (the sanitizer build runs this under AddressSanitizer).
#include "frame_summary.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "frames.h"

namespace mirrowen::tool {
namespace {

using testing::Bytes;
using testing::Concatenate;
using testing::EthernetFrame;
using testing::Ipv4Packet;
using testing::Ipv6Packet;
using testing::TcpSegment;
using testing::UdpDatagram;

const Bytes kMac1 = {0x02, 0, 0, 0, 0, 0x01};
const Bytes kMac2 = {0x02, 0, 0, 0, 0, 0x02};
const Bytes kLoopback = {127, 0, 0, 1};
const Bytes kHostA = {192, 0, 2, 1};
const Bytes kHostB = {198, 51, 100, 2};
const Bytes kHost6A = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const Bytes kHost6B = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
constexpr std::uint8_t kIcmp = 1, kTcp = 6, kUdp = 17, kHopByHop = 0, kFragment = 44;
constexpr std::uint8_t kSyn = 0x02, kAck = 0x10;
constexpr const char* kMacs = "02:00:00:00:00:01 > 02:00:00:00:00:02, ";

Bytes Filler(std::size_t size) { return Bytes(size, 0xab); }

Bytes Cut(const Bytes& bytes, std::size_t size) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes Padded(Bytes frame) {
    frame.resize(std::max<std::size_t>(frame.size(), 60));
    return frame;
}

Bytes UdpFrame() {
    return EthernetFrame(
        kMac2, kMac1, 0x0800,
        Ipv4Packet(kUdp, kLoopback, kLoopback, UdpDatagram(45678, 9999, Filler(300))));
}

// With a hop-by-hop options header before the TCP header.
Bytes Tcp6Frame() {
    const Bytes hopByHop = {kTcp, 0, 1, 4, 0, 0, 0, 0};  // a PadN option fills it
    return EthernetFrame(
        kMac2, kMac1, 0x86dd,
        Ipv6Packet(kHopByHop, kHost6A, kHost6B,
                   Concatenate({hopByHop, TcpSegment(40000, 443, kSyn | kAck, {})})));
}

struct Case {
    const char* what;
    Bytes frame;
    std::string summary;
};

std::vector<Case> Cases() {
    const Bytes udp20 = UdpDatagram(5000, 53, Filler(20));
    const Bytes icmpEcho = Concatenate({{8, 0, 0, 0}, Filler(60)});
    const Bytes arpRequest =
        Concatenate({{0, 1, 8, 0, 6, 4, 0, 1}, kMac1, kHostA, Bytes(6), {192, 0, 2, 2}});
    return {
        {"IPv4/UDP", UdpFrame(),
         std::string(kMacs) + "ethertype IPv4 (0x0800), length 342: 127.0.0.1.45678 > "
                              "127.0.0.1.9999: UDP, length 300"},
        {"IPv6/TCP after a hop-by-hop header", Tcp6Frame(),
         std::string(kMacs) + "ethertype IPv6 (0x86dd), length 82: 2001:db8::1.40000 > "
                              "2001:db8::2.443: TCP, Flags [S.], length 0"},
        {"802.1Q",
         EthernetFrame(
             kMac2, kMac1, 0x8100,
             Concatenate({{0x60, 100, 0x08, 0x00}, Ipv4Packet(kUdp, kHostA, kHostB, udp20)})),
         std::string(kMacs) + "ethertype 802.1Q (0x8100), length 66: vlan 100, p 3, ethertype "
                              "IPv4 (0x0800), 192.0.2.1.5000 > 198.51.100.2.53: UDP, length 20"},
        // The tag's top 3 bits are the priority, the next its DEI bit, the low 12 the VLAN id.
        {"802.1Q with the DEI bit set",
         EthernetFrame(
             kMac2, kMac1, 0x8100,
             Concatenate({{0xf0, 100, 0x08, 0x00}, Ipv4Packet(kUdp, kHostA, kHostB, udp20)})),
         std::string(kMacs) + "ethertype 802.1Q (0x8100), length 66: vlan 100, p 7, DEI, ethertype "
                              "IPv4 (0x0800), 192.0.2.1.5000 > 198.51.100.2.53: UDP, length 20"},
        {"802.3", Padded(EthernetFrame(kMac2, kMac1, 38, {0x42, 0x42, 0x03})),
         std::string(kMacs) + "802.3, length 60: LLC, dsap 0x42, ssap 0x42, ctrl 0x03"},
        {"IPv4 first fragment",
         EthernetFrame(
             kMac2, kMac1, 0x0800,
             Ipv4Packet(kUdp, kHostA, kHostB, Cut(UdpDatagram(5000, 53, Filler(2000)), 1480), {},
                        0x2000, 4660)),
         std::string(kMacs) + "ethertype IPv4 (0x0800), length 1514: 192.0.2.1.5000 > "
                              "198.51.100.2.53: UDP, length 2000, frag id 4660 offset 0+"},
        {"IPv4 later fragment",
         EthernetFrame(kMac2, kMac1, 0x0800,
                       Ipv4Packet(kUdp, kHostA, kHostB, Filler(528), {}, 1480 / 8, 4660)),
         std::string(kMacs) + "ethertype IPv4 (0x0800), length 562: 192.0.2.1 > 198.51.100.2: "
                              "UDP, length 528, frag id 4660 offset 1480"},
        {"IPv4 options, ICMP",
         EthernetFrame(kMac2, kMac1, 0x0800,
                       Ipv4Packet(kIcmp, kHostA, kHostB, icmpEcho, {1, 1, 1, 0})),
         std::string(kMacs) + "ethertype IPv4 (0x0800), length 102: 192.0.2.1 > 198.51.100.2: "
                              "ICMP echo request, length 64"},
        {"IPv4 of another protocol, padded",
         Padded(EthernetFrame(kMac2, kMac1, 0x0800, Ipv4Packet(47, kHostA, kHostB, Filler(4)))),
         std::string(kMacs) + "ethertype IPv4 (0x0800), length 60: 192.0.2.1 > 198.51.100.2: "
                              "ip-proto-47, length 4"},
        {"IPv6 later fragment",
         EthernetFrame(
             kMac2, kMac1, 0x86dd,
             Ipv6Packet(kFragment, kHost6A, kHost6B,
                        Concatenate({{kUdp, 0, 1448 >> 8, 1448 & 0xff, 0, 0, 0, 7}, Filler(100)}))),
         std::string(kMacs) + "ethertype IPv6 (0x86dd), length 162: 2001:db8::1 > 2001:db8::2: "
                              "UDP, length 100, frag id 7 offset 1448"},
        {"ARP", EthernetFrame(kMac2, kMac1, 0x0806, arpRequest),
         std::string(kMacs) +
             "ethertype ARP (0x0806), length 42: ARP, Request who-has 192.0.2.2 tell 192.0.2.1"},
        {"unknown EtherType", testing::MakeTestFrame(100, 1),
         "02:00:5e:10:00:01 > 02:00:5e:10:00:02, ethertype Unknown (0x88b5), length 100"},
    };
}

TEST(FrameSummary, ReadsEachKindOfFrameAsTcpdumpDoes) {
    for (const Case& frame : Cases()) {
        EXPECT_EQ(SummarizeFrame(frame.frame), frame.summary) << frame.what;
    }
}

// The summary of a frame that ends where a page ends and the next page cannot be read: a read past
// the frame's end stops the test, in the ordinary build too, where AddressSanitizer is not there
// to see it. The summary of a heap copy of exactly its size, which the sanitizers watch, must
// agree.
std::string GuardedSummary(const Bytes& frame) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t pages = (frame.size() + page - 1) / page + 1;
    void* const mapped =
        mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) std::abort();
    auto* const guard = static_cast<unsigned char*>(mapped) + (pages - 1) * page;
    if (mprotect(guard, page, PROT_NONE) != 0) std::abort();
    unsigned char* const start = guard - frame.size();
    std::copy(frame.begin(), frame.end(), start);
    const std::string summary = SummarizeFrame(std::span<const unsigned char>(start, frame.size()));
    munmap(mapped, pages * page);
    EXPECT_EQ(SummarizeFrame(frame), summary);
    return summary;
}

// Every frame cut at every length: no byte past the end is read, and the line still gives the
// length and marks what is missing.
TEST(FrameSummary, SaysWhatItCanOfAFrameCutAtAnyLength) {
    for (const Case& frame : Cases()) {
        for (std::size_t size = 0; size <= frame.frame.size(); ++size) {
            SCOPED_TRACE(std::string(frame.what) + ", " + std::to_string(size) + " bytes");
            const std::string summary = GuardedSummary(Cut(frame.frame, size));
            EXPECT_NE(summary.find("length " + std::to_string(size)), std::string::npos) << summary;
            if (size >= 14) {
                // The link layer is whole: the line starts as the whole frame's does.
                const std::size_t linkPart = frame.summary.find(", length ");
                EXPECT_EQ(summary.substr(0, linkPart), frame.summary.substr(0, linkPart));
            }
        }
    }
    for (const Bytes& frame : {UdpFrame(), Tcp6Frame()}) {
        for (std::size_t size = 0; size < frame.size(); ++size) {
            const std::string summary = GuardedSummary(Cut(frame, size));
            EXPECT_TRUE(summary.find("[|") != std::string::npos ||
                        summary.find("bytes missing)") != std::string::npos)
                << size << " bytes: " << summary;
        }
    }
}

// A TCP header cut short at every byte by its IP packet's own length, in IPv4 and IPv6. Read up
// to the page guard, the line marks the header as cut short until its flags; with Ethernet padding
// after the packet, whatever the padding holds, the line is the same but for the frame's length.
TEST(FrameSummary, ATcpHeaderCutShortAtAnyByteIsReadNoFurther) {
    const Bytes header = TcpSegment(40000, 443, kSyn, {});
    constexpr std::size_t kPadding = 40;
    for (const bool version6 : {false, true}) {
        for (std::size_t size = 0; size <= header.size(); ++size) {
            SCOPED_TRACE(std::string(version6 ? "IPv6" : "IPv4") + ", " + std::to_string(size) +
                         " bytes of TCP");
            const Bytes packet = version6 ? Ipv6Packet(kTcp, kHost6A, kHost6B, Cut(header, size))
                                          : Ipv4Packet(kTcp, kHostA, kHostB, Cut(header, size));
            const Bytes frame = EthernetFrame(kMac2, kMac1, version6 ? 0x86dd : 0x0800, packet);
            const std::string summary = GuardedSummary(frame);
            EXPECT_EQ(summary.find(".40000 > ") != std::string::npos, size >= 4) << summary;
            if (size < 14) {
                EXPECT_TRUE(summary.ends_with(": TCP [|tcp]")) << summary;
            } else if (size == header.size()) {
                EXPECT_TRUE(summary.ends_with(", length 0")) << summary;
            }

            std::string padded = summary;
            const std::string length = ", length " + std::to_string(frame.size()) + ":";
            padded.replace(padded.find(length), length.size(),
                           ", length " + std::to_string(frame.size() + kPadding) + ":");
            for (const unsigned char filler : {0x00, 0xff}) {
                Bytes withPadding = frame;
                withPadding.resize(frame.size() + kPadding, filler);
                EXPECT_EQ(GuardedSummary(withPadding), padded) << int{filler};
            }
        }
    }
}

// The summary writes IPv6 addresses itself, as on Windows, where there is no inet_ntop of the same
// rules: exactly as inet_ntop writes them on Linux (and tcpdump prints them), for the forms with
// their own rules (runs of zero groups, the first of equal runs, a run at either end, an IPv4
// address after 96 zero bits or ::ffff, a single zero group) and for many addresses of random
// groups, half of them zero.
TEST(FrameSummary, WritesIpv6AddressesAsInetNtopDoes) {
    std::vector<Bytes> addresses = {
        Bytes(16, 0),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 192, 0, 2, 1},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1},
        {0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 192, 0, 2, 1},
        {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},
        {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1},
        {0x20, 0x01, 0, 0, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0, 0x5e, 0xff, 0xfe, 0, 0x53, 0x01},
        {0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 1, 0, 0, 0, 1, 0, 1, 0, 1},
    };
    std::mt19937 random(15);
    for (int index = 0; index < 2000; ++index) {
        Bytes address(16);
        for (std::size_t group = 0; group < 8; ++group) {
            const unsigned value = random() % 2 == 0 ? 0 : random() % 0x10000;
            address[2 * group] = static_cast<unsigned char>(value >> 8);
            address[2 * group + 1] = static_cast<unsigned char>(value);
        }
        if (index % 10 == 0) address[10] = address[11] = 0xff;
        addresses.push_back(address);
    }
    for (const Bytes& address : addresses) {
        char expected[INET6_ADDRSTRLEN];
        ASSERT_NE(inet_ntop(AF_INET6, address.data(), expected, sizeof expected), nullptr);
        const std::string summary = SummarizeFrame(EthernetFrame(
            kMac2, kMac1, 0x86dd, Ipv6Packet(kUdp, address, kHost6B, UdpDatagram(7, 9, {}))));
        EXPECT_NE(summary.find(": " + std::string(expected) + ".7 > 2001:db8::2.9: UDP"),
                  std::string::npos)
            << summary;
    }
}

TEST(FrameSummary, LineGivesTheNumberAndTheLocalTimeToTheMicrosecond) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(FrameLine(17, timespec{1700000000, 123456789}, UdpFrame()),
              "17 22:13:20.123456 " + Cases()[0].summary);
}

}  // namespace
}  // namespace mirrowen::tool
