#include "loopback_traffic.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace mirrowen::tooltest {

LoopbackTraffic::LoopbackTraffic(std::chrono::milliseconds spacing, int maxDatagrams,
                                 std::size_t payloadSize)
    : receiver_(socket(AF_INET, SOCK_DGRAM, 0)), sender_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (receiver_ < 0 || sender_ < 0 ||
        bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(receiver_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (receiver_ >= 0) close(receiver_);
        if (sender_ >= 0) close(sender_);
        throw std::runtime_error("cannot open UDP sockets on 127.0.0.1");
    }
    thread_ = std::jthread(
        [this, address, spacing, maxDatagrams, payloadSize](const std::stop_token& stop) {
            const std::vector<char> payload(payloadSize, 'm');
            for (int sent = 0; sent < maxDatagrams && !stop.stop_requested(); ++sent) {
                sendto(sender_, payload.data(), payload.size(), 0,
                       reinterpret_cast<const sockaddr*>(&address), sizeof address);
                std::this_thread::sleep_for(spacing);
            }
        });
}

LoopbackTraffic::~LoopbackTraffic() {
    thread_.request_stop();
    thread_.join();
    close(sender_);
    close(receiver_);
}

}  // namespace mirrowen::tooltest
