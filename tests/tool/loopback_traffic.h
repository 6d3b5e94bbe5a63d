// UDP datagrams from one socket on 127.0.0.1 to another, so that a capture on the loopback
// adapter has frames to write. Never sends anywhere but 127.0.0.1.
#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

namespace mirrowen::tooltest {

class LoopbackTraffic {
  public:
    // Sends a datagram of payloadSize bytes every spacing, at most maxDatagrams of them, until
    // destroyed.
    LoopbackTraffic(std::chrono::milliseconds spacing, int maxDatagrams,
                    std::size_t payloadSize = 300);
    ~LoopbackTraffic();
    LoopbackTraffic(const LoopbackTraffic&) = delete;
    LoopbackTraffic& operator=(const LoopbackTraffic&) = delete;

  private:
    int receiver_ = -1;
    int sender_ = -1;
    std::jthread thread_;
};

}  // namespace mirrowen::tooltest
