// The demo's traffic, where the platform has the demo (kHasDemo): implemented in posix/ only.
#pragma once

#include <memory>
#include <span>

namespace mirrowen::tool::platform {

// A UDP socket that sends datagrams to a socket of its own on 127.0.0.1, never anywhere else.
class LoopbackSender {
  public:
    LoopbackSender();
    // Whether it has its sockets; without them Send sends nothing.
    ~LoopbackSender();
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;

    bool Ready() const;
    void Send(std::span<const char> datagram) const;

  private:
    struct Sockets;
    std::unique_ptr<Sockets> sockets_;
};

}  // namespace mirrowen::tool::platform
