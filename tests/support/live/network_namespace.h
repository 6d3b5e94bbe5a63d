#pragma once

#include <string>
#include <vector>

#include "test_core.h"

namespace mirrowen::testing {

// A network namespace of the test's own with one veth pair inside it: both ends up, IPv6 off
// (so the kernel sends nothing of its own), no addresses. While it exists, the thread that made it,
// and every thread that thread starts, works inside the namespace; the destructor returns the
// thread to its own namespace and deletes the namespace with its links. Needs root.
class VethNamespace {
  public:
    explicit VethNamespace(int mtu = 1500);
    ~VethNamespace();
    VethNamespace(const VethNamespace&) = delete;
    VethNamespace& operator=(const VethNamespace&) = delete;

    const std::string& name() const { return name_; }
    // The end the library captures on, and its peer, where the test sends from.
    static constexpr const char* kCaptureEnd = "mwcap0";
    static constexpr const char* kSendEnd = "mwsend0";
    // "rpcap://mwcap0".
    static std::string CaptureAdapter();

    void DeleteCaptureEnd() const;
    void BringCaptureEndDown() const;
    void BringCaptureEndUp() const;

    // A tun device (an adapter that carries IP packets, not Ethernet) in the namespace, up with
    // IPv6 off and nobody attached; it goes with the namespace.
    static constexpr const char* kTunDevice = "mwtun0";
    void AddTunDevice() const;

  private:
    void Remove();

    std::string name_;
    int originalNamespace_ = -1;
};

// Why tests that capture, on veth pairs in network namespaces of their own, cannot run on this
// machine (not root, or no network namespace can be made); empty when they can.
std::string WhyLiveCapturesCannotRun();

// Runs a command through the shell with its output discarded; throws when it fails.
void RunCommand(const std::string& command);

// A raw packet socket bound to one interface of the calling thread's network namespace, for
// sending only; throws when the interface is missing or the socket cannot be had.
int OpenSendingSocket(const std::string& interfaceName);

// Sends raw frames out of one interface of the calling thread's network namespace.
class FrameSender {
  public:
    explicit FrameSender(const std::string& interfaceName);
    ~FrameSender();
    FrameSender(const FrameSender&) = delete;
    FrameSender& operator=(const FrameSender&) = delete;

    void Send(const std::vector<unsigned char>& frame) const;

  private:
    int socket_ = -1;
};

}  // namespace mirrowen::testing
