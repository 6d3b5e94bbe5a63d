#include "network_namespace.h"

#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace mirrowen::testing {

namespace {

std::string UniqueName() {
    static std::atomic<int> counter{0};
    return "mirrowen-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

void RunCommand(const std::string& command) {
    const std::string quiet = command + " >/dev/null 2>&1";
    if (std::system(quiet.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

std::string WhyLiveCapturesCannotRun() {
    if (geteuid() != 0) return "capturing needs root";
    if (std::system("{ command -v ip && unshare --net true; } >/dev/null 2>&1") != 0) {
        return "no network namespace can be made here (needs iproute2 and CAP_SYS_ADMIN)";
    }
    return {};
}

std::string VethNamespace::CaptureAdapter() { return AdapterName(kCaptureEnd); }

VethNamespace::VethNamespace(int mtu) : name_(UniqueName()) {
    RunCommand("ip netns add " + name_);
    try {
        const std::string inside = "ip -n " + name_ + " ";
        const std::string mtuText = std::to_string(mtu);
        RunCommand(inside + "link add " + kCaptureEnd + " mtu " + mtuText +
                   " type veth peer name " + kSendEnd + " mtu " + mtuText);
        for (const char* end : {kCaptureEnd, kSendEnd}) {
            RunCommand("ip netns exec " + name_ + " sysctl -qw net.ipv6.conf." + end +
                       ".disable_ipv6=1");
        }
        for (const char* end : {kCaptureEnd, kSendEnd}) {
            RunCommand(inside + "link set " + end + " up");
        }
        originalNamespace_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        const bool entered =
            originalNamespace_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
        if (target >= 0) close(target);
        if (!entered) throw std::runtime_error("cannot enter network namespace " + name_);
    } catch (...) {
        Remove();
        throw;
    }
}

VethNamespace::~VethNamespace() { Remove(); }

void VethNamespace::Remove() {
    if (originalNamespace_ >= 0) {
        setns(originalNamespace_, CLONE_NEWNET);
        close(originalNamespace_);
        originalNamespace_ = -1;
    }
    // A failure here cannot be reported from a destructor; the suite's cleanup step sweeps
    // namespaces left behind by test processes that are gone.
    const std::string command = "ip netns del " + name_ + " >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

void VethNamespace::DeleteCaptureEnd() const {
    RunCommand("ip -n " + name_ + " link del " + kCaptureEnd);
}

void VethNamespace::BringCaptureEndDown() const {
    RunCommand("ip -n " + name_ + " link set " + kCaptureEnd + " down");
}

void VethNamespace::BringCaptureEndUp() const {
    RunCommand("ip -n " + name_ + " link set " + kCaptureEnd + " up");
}

void VethNamespace::AddTunDevice() const {
    RunCommand("ip -n " + name_ + " tuntap add dev " + kTunDevice + " mode tun");
    RunCommand("ip netns exec " + name_ + " sysctl -qw net.ipv6.conf." + kTunDevice +
               ".disable_ipv6=1");
    RunCommand("ip -n " + name_ + " link set " + kTunDevice + " up");
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
