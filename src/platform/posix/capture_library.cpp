#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace mirrowen::platform {

namespace {

// While no frame comes, the wait is cut into slices of at most 100 ms, half the read timeout: a
// stop on an idle adapter should end the call within one read timeout, and releasing the capture
// socket at the end takes the kernel a while more (docs/performance.md, "Idle stop latency",
// measures it). Frames are still handed over by the read timeout (the kernel wakes the wait when it
// hands over a block), so this only adds wake-ups while idle.
constexpr int kLongestIdleWaitMs = 100;

// Linux's capture library does not return from a blocking read while no frame arrives (an empty
// TPACKET_V3 block is never handed over), so a stop on an idle adapter would never be seen.
// Reads are therefore non-blocking (see MakeReadsReturn), and the wait between them is a poll.
// True when frames (or an error) may be waiting.
bool WaitForFrames(pcap_t* capture) {
    char errorText[PCAP_ERRBUF_SIZE];
    if (pcap_getnonblock(capture, errorText) != 1) return false;  // a blocking read waited already
    const int descriptor = pcap_get_selectable_fd(capture);
    int waitMs = kLongestIdleWaitMs;
    if (const timeval* required = pcap_get_required_select_timeout(capture)) {
        const long requiredMs = required->tv_sec * 1000L + required->tv_usec / 1000L;
        waitMs = static_cast<int>(std::min<long>(waitMs, requiredMs));
    }
    pollfd ready{.fd = descriptor, .events = POLLIN, .revents = 0};
    return poll(&ready, 1, waitMs) != 0;
}

// Without a descriptor to wait on, blocking reads with their timeout are all there is.
void MakeReadsReturn(pcap_t* capture) {
    if (pcap_get_selectable_fd(capture) < 0) return;
    char errorText[PCAP_ERRBUF_SIZE];
    pcap_setnonblock(capture, 1, errorText);
}

struct CaptureCloser {
    void operator()(pcap_t* capture) const { pcap_close(capture); }
};
using OwnedCapture = std::unique_ptr<pcap_t, CaptureCloser>;

// pcap_open_live's own steps, with the buffer size set before activation (0: left as it is) and
// the frames' times asked for in nanoseconds. Returns pcap_activate's status; `capture` holds the
// handle, activated or not, and is empty when pcap_create failed (its text is then in errorText).
int Activate(OwnedCapture& capture, const char* device, int snapshotLength, bool promiscuous,
             int readTimeoutMs, std::size_t bufferBytes, char (&errorText)[kCaptureErrorSize]) {
    capture.reset(pcap_create(device, errorText));
    if (!capture) return PCAP_ERROR;
    int status = pcap_set_snaplen(capture.get(), snapshotLength);
    if (status >= 0) status = pcap_set_promisc(capture.get(), promiscuous ? 1 : 0);
    if (status >= 0) status = pcap_set_timeout(capture.get(), readTimeoutMs);
    if (status >= 0 && bufferBytes != 0) {
        status = pcap_set_buffer_size(capture.get(), static_cast<int>(bufferBytes));
    }
    // Where nanoseconds cannot be had, microseconds are kept: not a failure.
    if (status >= 0) pcap_set_tstamp_precision(capture.get(), PCAP_TSTAMP_PRECISION_NANO);
    // A warning (a positive status) leaves a working capture.
    if (status >= 0) status = pcap_activate(capture.get());
    return status;
}

// The error text exactly as pcap_open_live composes it after a failed activation, cut at the end
// of the buffer as its own is.
void DescribeFailure(const char* device, int status, pcap_t* capture,
                     char (&errorText)[kCaptureErrorSize]) {
    const char* reason = pcap_geterr(capture);
    if (status == PCAP_ERROR) {
        static_cast<void>(std::snprintf(errorText, sizeof errorText, "%s: %.*s", device,
                                        PCAP_ERRBUF_SIZE - 3, reason));
    } else if (status == PCAP_ERROR_NO_SUCH_DEVICE || status == PCAP_ERROR_PERM_DENIED ||
               status == PCAP_ERROR_PROMISC_PERM_DENIED) {
        static_cast<void>(std::snprintf(errorText, sizeof errorText, "%s: %s (%.*s)", device,
                                        pcap_statustostr(status), PCAP_ERRBUF_SIZE - 6, reason));
    } else {
        static_cast<void>(
            std::snprintf(errorText, sizeof errorText, "%s: %s", device, pcap_statustostr(status)));
    }
}

}  // namespace

CaptureHandle OpenCapture(const char* device, int snapshotLength, bool promiscuous,
                          int readTimeoutMs, std::size_t bufferBytes,
                          char (&errorText)[kCaptureErrorSize]) {
    static_assert(kCaptureErrorSize == PCAP_ERRBUF_SIZE);
    // libpcap itself shrinks a ring that the kernel has no memory for. A ring that it cannot map
    // into the process (an address-space limit) fails the activation with a generic error: then
    // the capture library's default is asked for once, and its failure is pcap_open_live's.
    for (const std::size_t size : {bufferBytes, std::size_t{0}}) {
        OwnedCapture capture;
        const int status =
            Activate(capture, device, snapshotLength, promiscuous, readTimeoutMs, size, errorText);
        if (status >= 0) {
            MakeReadsReturn(capture.get());
            return capture.release();
        }
        if (!capture) return nullptr;
        if (status != PCAP_ERROR || size == 0) {
            DescribeFailure(device, status, capture.get(), errorText);
            return nullptr;
        }
    }
    return nullptr;
}

bool IsEthernet(CaptureHandle capture) { return pcap_datalink(capture) == DLT_EN10MB; }

ReadResult ReadFrame(CaptureHandle capture, Frame& frame) {
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    int result = pcap_next_ex(capture, &header, &bytes);
    if (result == 0 && WaitForFrames(capture)) result = pcap_next_ex(capture, &header, &bytes);
    if (result == PCAP_ERROR) return ReadResult::kError;
    if (result < 0) return ReadResult::kEnd;
    if (result != 1) return ReadResult::kTimeout;
    const bool nanoseconds = pcap_get_tstamp_precision(capture) == PCAP_TSTAMP_PRECISION_NANO;
    const auto fraction = static_cast<std::uint32_t>(header->ts.tv_usec);
    frame = Frame{.capturedLength = header->caplen,
                  .bytes = bytes,
                  .time = {.seconds = header->ts.tv_sec,
                           .nanoseconds = nanoseconds ? fraction : fraction * 1000}};
    return ReadResult::kFrame;
}

void CloseCapture(CaptureHandle capture) { pcap_close(capture); }

}  // namespace mirrowen::platform
