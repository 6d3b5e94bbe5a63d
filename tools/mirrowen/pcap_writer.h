// Frames written as a pcap stream, as libpcap writes one with nanosecond times, which tcpdump,
// Wireshark and tshark read: a file header, then a record header and the bytes of each frame,
// every field in the machine's byte order (which the magic number tells readers). Byte for byte
// what libpcap's own writer makes of the same frames; written here rather than through the capture
// library, so that an export needs none (and Windows' wpcap.dll need not have the writer, which
// Wine's lacks).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>
#include <system_error>

namespace mirrowen::tool {

class PcapWriter {
  public:
    // Writes the file header to `file`, which stays the caller's.
    explicit PcapWriter(std::FILE* file);

    // The frame was stored whole: its length on the wire is the captured one. Nothing more is
    // written after a failed write, so that no record follows a cut one.
    void Append(const timespec& captured, std::span<const unsigned char> frame);
    // Hands what is buffered to the system; false once any write failed.
    bool Flush();
    // The system's reason for the first write that failed; none while all went well.
    std::error_code Error() const { return error_; }

  private:
    void Write(const void* bytes, std::size_t size);

    std::FILE* file_;
    std::error_code error_;
};

// Whether a write failed because its reader closed the pipe (`| head`, a viewer that ended).
inline bool ReaderWentAway(std::error_code error) { return error == std::errc::broken_pipe; }

}  // namespace mirrowen::tool
