#include "frames.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
    const std::uint32_t networkSequence = htonl(sequence);
    std::memcpy(frame.data() + 18, &networkSequence, 4);
    for (std::size_t i = kHeaderSize; i < size; ++i) {
        frame[i] = static_cast<unsigned char>(i * 7 + sequence);
    }
    return frame;
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
    std::uint32_t networkSequence = 0;
    std::memcpy(&networkSequence, frame.data() + 18, 4);
    return frame == MakeFrame(frame.size(), ntohl(networkSequence), marker);
}

int OpenSendingSocket(const std::string& interfaceName) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) throw std::runtime_error("no interface " + interfaceName);
    const int packetSocket =
        socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);  // protocol 0: send only
    if (packetSocket < 0) throw std::runtime_error("cannot open a packet socket");
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(index);
    if (bind(packetSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(packetSocket);
        throw std::runtime_error("cannot bind to " + interfaceName);
    }
    return packetSocket;
}

FrameSender::FrameSender(const std::string& interfaceName)
    : socket_(OpenSendingSocket(interfaceName)) {}

FrameSender::~FrameSender() { close(socket_); }

void FrameSender::Send(const std::vector<unsigned char>& frame) const {
    ssize_t sent;
    do {
        sent = send(socket_, frame.data(), frame.size(), 0);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(frame.size())) throw std::runtime_error("send failed");
}

}  // namespace mirrowen::testing
