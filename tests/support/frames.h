#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirrowen::testing {

inline constexpr std::uint16_t kTestEtherType = 0x88B5;  // local experimental

// An Ethernet frame of exactly `size` bytes (at least 22): locally administered addresses,
// EtherType 0x88B5, a marker telling test frames from probes, a sequence number, and a filler
// derived from the sequence so that every byte is checked.
std::vector<unsigned char> MakeTestFrame(std::size_t size, std::uint32_t sequence);
std::vector<unsigned char> MakeProbeFrame(std::uint32_t sequence);
bool IsProbeFrame(const std::vector<unsigned char>& frame);
// Whether `frame` is a test or probe frame of its length, every byte as it was sent.
bool IsIntactFrame(const std::vector<unsigned char>& frame);

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
