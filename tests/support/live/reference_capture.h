#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "test_core.h"

struct pcap;

namespace mirrowen::testing {

// What libpcap captures on one interface of the calling thread's network namespace, each frame
// with its capture time in nanoseconds, kept in memory: the reference for frames that another
// capture of the same interface stored. It captures from its construction (immediate delivery, a
// 64 MiB buffer) on a thread of its own.
class ReferenceCapture {
  public:
    struct Frame {
        Bytes bytes;
        std::int64_t nanoseconds = 0;  // since the epoch
    };

    explicit ReferenceCapture(const std::string& interfaceName);  // throws when it cannot open
    ~ReferenceCapture();
    ReferenceCapture(const ReferenceCapture&) = delete;
    ReferenceCapture& operator=(const ReferenceCapture&) = delete;

    // Stops once what was handed over has been read; the frames captured, in order.
    std::vector<Frame> Stop();

  private:
    pcap* capture_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::vector<Frame> frames_;
    std::thread thread_;
};

}  // namespace mirrowen::testing
