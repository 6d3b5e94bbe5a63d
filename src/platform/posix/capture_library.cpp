#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>

#include "platform/platform.h"

namespace mirrowen::platform {

namespace {

// While no frame comes, the wait is cut into slices of at most 100 ms: releasing the capture socket
// at the end takes the kernel a few tens of milliseconds more, and a stop on an idle adapter should
// end the call within a quarter of a second. Frames are still handed over by the read timeout, so
// this only adds wake-ups while idle (10 a second instead of 5).
constexpr int kLongestIdleWaitMs = 100;

// Linux's capture library does not return from a blocking read while no frame arrives (an empty
// TPACKET_V3 block is never handed over), so a stop on an idle adapter would never be seen.
// Reads are therefore non-blocking, and the wait between them is a poll bounded by the read
// timeout. True when frames (or an error) may be waiting.
bool WaitForFrames(CaptureHandle capture, int readTimeoutMs) {
    char errorText[PCAP_ERRBUF_SIZE];
    if (pcap_getnonblock(capture, errorText) != 1) return false;  // a blocking read waited already
    const int descriptor = pcap_get_selectable_fd(capture);
    int waitMs = std::min(readTimeoutMs, kLongestIdleWaitMs);
    if (const timeval* required = pcap_get_required_select_timeout(capture)) {
        const long requiredMs = required->tv_sec * 1000L + required->tv_usec / 1000L;
        waitMs = static_cast<int>(std::min<long>(waitMs, requiredMs));
    }
    pollfd ready{.fd = descriptor, .events = POLLIN, .revents = 0};
    return poll(&ready, 1, waitMs) != 0;
}

}  // namespace

CaptureHandle OpenCapture(const char* device, int snapshotLength, bool promiscuous,
                          int readTimeoutMs, char (&errorText)[kCaptureErrorSize]) {
    static_assert(kCaptureErrorSize == PCAP_ERRBUF_SIZE);
    return pcap_open_live(device, snapshotLength, promiscuous ? 1 : 0, readTimeoutMs, errorText);
}

int LinkType(CaptureHandle capture) { return pcap_datalink(capture); }

void PrepareReads(CaptureHandle capture) {
    // Without a descriptor to wait on, blocking reads with their timeout are all there is.
    if (pcap_get_selectable_fd(capture) < 0) return;
    char errorText[PCAP_ERRBUF_SIZE];
    pcap_setnonblock(capture, 1, errorText);
}

int ReadFrame(CaptureHandle capture, int readTimeoutMs, Frame& frame) {
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    int result = pcap_next_ex(capture, &header, &bytes);
    if (result == 0 && WaitForFrames(capture, readTimeoutMs)) {
        result = pcap_next_ex(capture, &header, &bytes);
    }
    if (result == 1) frame = Frame{.capturedLength = header->caplen, .bytes = bytes};
    return result;
}

void CloseCapture(CaptureHandle capture) { pcap_close(capture); }

}  // namespace mirrowen::platform
