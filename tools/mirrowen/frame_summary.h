// One stored frame on one line, read the way `tcpdump -e -n` prints it: link addresses, EtherType,
// and for IPv4 and IPv6 the addresses, the protocol and the ports. A packet file's bytes are
// untrusted: a short, truncated or odd frame is described as far as its bytes go ("[|ip]" marks
// where a header ran out, as in tcpdump), and nothing past its end is ever read.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace mirrowen::tool {

// "02:00:00:00:00:01 > 02:00:00:00:00:02, ethertype IPv4 (0x0800), length 342: 127.0.0.1.45678 >
// 127.0.0.1.9999: UDP, length 300"
std::string SummarizeFrame(std::span<const unsigned char> frame);

// The packet file's number, its capture time in local time to the microsecond (as tcpdump
// prints it), and the frame's summary: "17 12:00:00.123456 02:00:00:00:00:01 > ...".
std::string FrameLine(std::int64_t number, const timespec& captured,
                      std::span<const unsigned char> frame);

}  // namespace mirrowen::tool
