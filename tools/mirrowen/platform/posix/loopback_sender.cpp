// The demo's traffic on POSIX: UDP datagrams from one socket to another, both on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/loopback_sender.h"

namespace mirrowen::tool::platform {

struct LoopbackSender::Sockets {
    int receiver = -1;
    int sender = -1;
    sockaddr_in address{};
    ~Sockets() {
        if (receiver >= 0) close(receiver);
        if (sender >= 0) close(sender);
    }
};

LoopbackSender::LoopbackSender() : sockets_(std::make_unique<Sockets>()) {
    Sockets& sockets = *sockets_;
    sockets.receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockets.sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockets.address.sin_family = AF_INET;
    sockets.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sockets.address;
    auto* address = reinterpret_cast<sockaddr*>(&sockets.address);
    // The receiver's port, which the system picks.
    if (sockets.receiver < 0 || sockets.sender < 0 ||
        bind(sockets.receiver, address, sizeof sockets.address) != 0 ||
        getsockname(sockets.receiver, address, &length) != 0) {
        sockets_.reset();
    }
}

LoopbackSender::~LoopbackSender() = default;

bool LoopbackSender::Ready() const { return sockets_ != nullptr; }

void LoopbackSender::Send(std::span<const char> datagram) const {
    if (!sockets_) return;
    sendto(sockets_->sender, datagram.data(), datagram.size(), 0,
           reinterpret_cast<const sockaddr*>(&sockets_->address), sizeof sockets_->address);
}

}  // namespace mirrowen::tool::platform
