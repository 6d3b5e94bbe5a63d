#include <windows.h>

#include <cstdio>
#include <cstring>

#include "mirrowen.h"
#include "platform/platform.h"
#include "platform/win32/wpcap.h"
#include "wpcap_library.h"

namespace mirrowen::platform {

namespace {

// wpcap.dll is bound at the first call rather than imported, so that Mirrowen.dll loads on a
// machine without a capture library (the call then fails with a message), and so that Npcap's
// copy, which is not on the default search path, is found too.
struct CaptureLibrary {
    decltype(&pcap_open_live) openLive = nullptr;
    decltype(&pcap_datalink) datalink = nullptr;
    decltype(&pcap_next_ex) nextEx = nullptr;
    decltype(&pcap_close) close = nullptr;
    decltype(&pcap_setbuff) setBuffer = nullptr;  // optional: not every capture library has it
    DWORD failure = ERROR_SUCCESS;                // why binding failed, as GetLastError reported it

    bool Bound() const { return failure == ERROR_SUCCESS; }
};

CaptureLibrary BindCaptureLibrary() {
    CaptureLibrary library;
    HMODULE module = LoadWpcap();
    if (module == nullptr || !BindWpcap(module, "pcap_open_live", library.openLive) ||
        !BindWpcap(module, "pcap_datalink", library.datalink) ||
        !BindWpcap(module, "pcap_next_ex", library.nextEx) ||
        !BindWpcap(module, "pcap_close", library.close)) {
        library.failure = GetLastError();
        if (library.failure == ERROR_SUCCESS) library.failure = ERROR_PROC_NOT_FOUND;
        // A library that lacks a function stays loaded: it is bound once per process, and a
        // module unloaded here could still be in use by the host.
        return library;
    }
    BindWpcap(module, "pcap_setbuff", library.setBuffer);
    return library;
}

// Bound once per process; C++ makes the first concurrent calls wait for one binding.
const CaptureLibrary& TheCaptureLibrary() {
    static const CaptureLibrary library = BindCaptureLibrary();
    return library;
}

void DescribeBindingFailure(DWORD failure, char (&errorText)[kCaptureErrorSize]) {
    char reason[kCaptureErrorSize] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, failure, 0,
                   reason, sizeof reason, nullptr);
    // The system's text ends with a line break; the message is one line.
    reason[std::strcspn(reason, "\r\n")] = '\0';
    if (reason[0] == '\0') std::snprintf(reason, sizeof reason, "error %lu", failure);
    std::snprintf(errorText, sizeof errorText,
                  "The capture library wpcap.dll could not be loaded: %s", reason);
}

// Below this the driver's own default (1 MiB) is as good: a refused size is not halved further.
constexpr std::size_t kSmallestHalvedBytes = std::size_t{MIRROWEN_SMALLEST_CAPTURE_BUFFER_MB} << 20;

// The driver's buffer is enlarged after the open. The driver takes it from memory that cannot be
// paged out, which it may not have: a refused size is asked for again at half, down to 2 MiB. A
// capture library without pcap_setbuff, or a driver that refuses every size, keeps its own
// default of 1 MiB.
void EnlargeBuffer(const CaptureLibrary& library, CaptureHandle capture, std::size_t bytes) {
    if (library.setBuffer == nullptr || bytes == 0) return;
    // The first size is asked for whatever it is: an operator may want less than 2 MiB.
    if (library.setBuffer(capture, static_cast<int>(bytes)) == 0) return;
    for (std::size_t size = bytes / 2; size >= kSmallestHalvedBytes; size /= 2) {
        if (library.setBuffer(capture, static_cast<int>(size)) == 0) return;
    }
}

}  // namespace

CaptureHandle OpenCapture(const char* device, int snapshotLength, bool promiscuous,
                          int readTimeoutMs, std::size_t bufferBytes,
                          char (&errorText)[kCaptureErrorSize]) {
    static_assert(kCaptureErrorSize == PCAP_ERRBUF_SIZE);
    const CaptureLibrary& library = TheCaptureLibrary();
    if (!library.Bound()) {
        DescribeBindingFailure(library.failure, errorText);
        return nullptr;
    }
    CaptureHandle capture =
        library.openLive(device, snapshotLength, promiscuous ? 1 : 0, readTimeoutMs, errorText);
    if (capture != nullptr) EnlargeBuffer(library, capture, bufferBytes);
    return capture;
}

bool IsEthernet(CaptureHandle capture) {
    return TheCaptureLibrary().datalink(capture) == DLT_EN10MB;
}

// The header as wpcap.dll lays it out for 32- and 64-bit processes alike: Windows keeps long at
// 32 bits (LLP64), so the capture time is two 32-bit fields on x64 too.
static_assert(sizeof(pcap_pkthdr) == 16);

// The capture library's read timeout fires on Windows with or without traffic.
ReadResult ReadFrame(CaptureHandle capture, Frame& frame) {
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    const int result = TheCaptureLibrary().nextEx(capture, &header, &bytes);
    if (result == PCAP_ERROR) return ReadResult::kError;
    if (result < 0) return ReadResult::kEnd;
    if (result != 1) return ReadResult::kTimeout;
    frame = Frame{.capturedLength = header->caplen,
                  .bytes = bytes,
                  .time = {.seconds = header->ts.tv_sec,
                           .nanoseconds = static_cast<std::uint32_t>(header->ts.tv_usec) * 1000}};
    return ReadResult::kFrame;
}

void CloseCapture(CaptureHandle capture) { TheCaptureLibrary().close(capture); }

}  // namespace mirrowen::platform
