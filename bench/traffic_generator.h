#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirrowen::bench {

// Sends raw Ethernet frames (EtherType 0x88B5, a sequence number in each) out of one interface
// of the calling thread's network namespace, in batches of sendmmsg, at a chosen rate or as fast
// as the kernel takes them.
class TrafficGenerator {
  public:
    explicit TrafficGenerator(const std::string& interfaceName);
    ~TrafficGenerator();
    TrafficGenerator(const TrafficGenerator&) = delete;
    TrafficGenerator& operator=(const TrafficGenerator&) = delete;

    // Sends `count` frames of `size` bytes numbered from `firstSequence`, at `ratePerSecond`
    // (0: full speed), giving up once `limit` has passed. Returns how many the kernel accepted.
    // Paced sends are timed from the start (absolute times, so that no delay accumulates); where
    // `acceptedAt` is given, it receives the time at which each batch was accepted.
    std::uint64_t Send(std::size_t size, std::uint32_t firstSequence, std::uint64_t count,
                       double ratePerSecond, std::chrono::milliseconds limit,
                       std::vector<std::chrono::steady_clock::time_point>* acceptedAt = nullptr);

  private:
    int socket_ = -1;
};

}  // namespace mirrowen::bench
