#include "pcap_stand_in.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/win32/wpcap.h"  // wpcap.dll's interface, as the library itself binds it
#else
#include <pcap/pcap.h>

#include <cerrno>
#endif

#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

struct pcap {
    pcap_pkthdr header{};
    std::vector<unsigned char> frame;
    char errorText[PCAP_ERRBUF_SIZE] = "";
    int bufferBytes = 0;
    bool nanoseconds = false;
    bool opened = false;
    bool nonBlocking = false;
};

namespace {

struct Answer {
    int result = 0;
    std::vector<unsigned char> frame;
    std::uint32_t wireLength = 0;
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

struct Script {
    bool failOpen = false;
    int failStatus = 0;
    std::string openFailure;
    std::string openWarning;
    int linkType = DLT_EN10MB;
    int largestBufferAccepted = std::numeric_limits<int>::max();
    int selectableDescriptor = -1;
    std::deque<Answer> answers;
    StandInReadHook readHook = nullptr;
    void* readHookContext = nullptr;
    StandInOpenHook openHook = nullptr;
    void* openHookContext = nullptr;

    int opens = 0;
    int closes = 0;
    int handles = 0;
    int reads = 0;
    std::vector<int> bufferRequests;
    std::string device;
    int snapshotLength = 0;
    int promiscuous = 0;
    int timeoutMs = 0;
};

Script& TheScript() {
    static Script script;
    return script;
}

void CopyText(char* buffer, const std::string& text) {
    std::strncpy(buffer, text.c_str(), PCAP_ERRBUF_SIZE - 1);
    buffer[PCAP_ERRBUF_SIZE - 1] = '\0';
}

// A successful open: counted, and the open hook called.
pcap_t* Opened(pcap_t* capture) {
    Script& script = TheScript();
    capture->opened = true;
    ++script.opens;
    if (script.openHook != nullptr) script.openHook(script.openHookContext);
    return capture;
}

}  // namespace

extern "C" {

void StandInReset(void) { TheScript() = Script{}; }

void StandInFailOpen(const char* errorText) { StandInFailOpenWithStatus(-1, errorText); }

void StandInFailOpenWithStatus(int status, const char* errorText) {
    TheScript().failOpen = true;
    TheScript().failStatus = status;
    TheScript().openFailure = errorText;
}

void StandInWarnOnOpen(const char* warningText) { TheScript().openWarning = warningText; }

void StandInSetLinkType(int linkType) { TheScript().linkType = linkType; }

void StandInRefuseBuffersAbove(int bytes) { TheScript().largestBufferAccepted = bytes; }

void StandInQueueFrame(const unsigned char* bytes, uint32_t capturedLength) {
    StandInQueueFrameAt(bytes, capturedLength, 0, 0);
}

void StandInQueueFrameAt(const unsigned char* bytes, uint32_t capturedLength, int64_t seconds,
                         uint32_t nanoseconds) {
    TheScript().answers.push_back(Answer{1,
                                         std::vector<unsigned char>(bytes, bytes + capturedLength),
                                         capturedLength, seconds, nanoseconds});
}

void StandInQueueCutFrame(const unsigned char* bytes, uint32_t capturedLength,
                          uint32_t wireLength) {
    StandInQueueFrame(bytes, capturedLength);
    TheScript().answers.back().wireLength = wireLength;
}

void StandInQueueTimeout(void) { TheScript().answers.push_back(Answer{0, {}, 0, 0, 0}); }

void StandInQueueResult(int result) { TheScript().answers.push_back(Answer{result, {}, 0, 0, 0}); }

void StandInOnRead(StandInReadHook hook, void* context) {
    TheScript().readHook = hook;
    TheScript().readHookContext = context;
}

void StandInOnOpen(StandInOpenHook hook, void* context) {
    TheScript().openHook = hook;
    TheScript().openHookContext = context;
}

int StandInOpenCount(void) { return TheScript().opens; }
int StandInCloseCount(void) { return TheScript().closes; }
int StandInHandlesOpen(void) { return TheScript().handles; }
int StandInReadCount(void) { return TheScript().reads; }
const char* StandInOpenedDevice(void) { return TheScript().device.c_str(); }
int StandInOpenedSnapshotLength(void) { return TheScript().snapshotLength; }
int StandInOpenedPromiscuous(void) { return TheScript().promiscuous; }
int StandInOpenedTimeoutMs(void) { return TheScript().timeoutMs; }
int StandInBufferRequestCount(void) { return static_cast<int>(TheScript().bufferRequests.size()); }
int StandInBufferRequest(int index) {
    return TheScript().bufferRequests.at(static_cast<std::size_t>(index));
}

#if defined(_WIN32)
pcap_t* pcap_open_live(const char* device, int snapshotLength, int promiscuous, int timeoutMs,
                       char* errorBuffer) {
    Script& script = TheScript();
    script.device = device;
    script.snapshotLength = snapshotLength;
    script.promiscuous = promiscuous;
    script.timeoutMs = timeoutMs;
    if (script.failOpen) {
        CopyText(errorBuffer, script.openFailure);
        return nullptr;
    }
    CopyText(errorBuffer, script.openWarning);
    ++script.handles;
    return Opened(new pcap);
}

int pcap_setbuff(pcap_t* capture, int bytes) {
    TheScript().bufferRequests.push_back(bytes);
    if (bytes > TheScript().largestBufferAccepted) return -1;
    capture->bufferBytes = bytes;
    return 0;
}
#else
// Linux opens in steps: pcap_create, the settings, pcap_activate.
pcap_t* pcap_create(const char* device, char*) {
    TheScript().device = device;
    ++TheScript().handles;
    return new pcap;
}

int pcap_set_snaplen(pcap_t*, int snapshotLength) {
    TheScript().snapshotLength = snapshotLength;
    return 0;
}

int pcap_set_promisc(pcap_t*, int promiscuous) {
    TheScript().promiscuous = promiscuous;
    return 0;
}

int pcap_set_timeout(pcap_t*, int timeoutMs) {
    TheScript().timeoutMs = timeoutMs;
    return 0;
}

int pcap_set_buffer_size(pcap_t* capture, int bytes) {
    capture->bufferBytes = bytes;
    return 0;
}

int pcap_set_tstamp_precision(pcap_t* capture, int precision) {
    capture->nanoseconds = precision == PCAP_TSTAMP_PRECISION_NANO;
    return 0;
}

int pcap_get_tstamp_precision(pcap_t* capture) {
    return capture->nanoseconds ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO;
}

int pcap_activate(pcap_t* capture) {
    Script& script = TheScript();
    script.bufferRequests.push_back(capture->bufferBytes);
    if (script.failOpen) {
        CopyText(capture->errorText, script.openFailure);
        return script.failStatus;
    }
    if (capture->bufferBytes > script.largestBufferAccepted) {
        CopyText(capture->errorText, "can't mmap rx ring: Cannot allocate memory");
        return PCAP_ERROR;
    }
    Opened(capture);
    if (script.openWarning.empty()) return 0;
    CopyText(capture->errorText, script.openWarning);
    return PCAP_WARNING;
}

char* pcap_geterr(pcap_t* capture) { return capture->errorText; }

const char* pcap_statustostr(int status) {
    static char text[64];
    std::snprintf(text, sizeof text, "stand-in status %d", status);
    return text;
}

void StandInOfferSelectableDescriptor(int descriptor) {
    TheScript().selectableDescriptor = descriptor;
}

// Asked for only by the Linux reads. Without a descriptor offered, blocking reads whose timeout
// fires are what is scripted.
int pcap_setnonblock(pcap_t* capture, int nonBlocking, char*) {
    capture->nonBlocking = nonBlocking != 0;
    return 0;
}

int pcap_getnonblock(pcap_t* capture, char*) { return capture->nonBlocking ? 1 : 0; }

int pcap_get_selectable_fd(pcap_t*) { return TheScript().selectableDescriptor; }

const struct timeval* pcap_get_required_select_timeout(pcap_t*) { return nullptr; }
#endif

int pcap_datalink(pcap_t*) { return TheScript().linkType; }

int pcap_next_ex(pcap_t* capture, struct pcap_pkthdr** header, const u_char** data) {
    Script& script = TheScript();
    const int readNumber = ++script.reads;
    if (script.readHook != nullptr) script.readHook(readNumber, script.readHookContext);
    if (script.answers.empty()) return PCAP_ERROR_BREAK;
    Answer answer = std::move(script.answers.front());
    script.answers.pop_front();
    if (answer.result == 1) {
        capture->frame = std::move(answer.frame);
        capture->header = pcap_pkthdr{};
        capture->header.ts.tv_sec =
            static_cast<decltype(capture->header.ts.tv_sec)>(answer.seconds);
        const std::uint32_t fraction =
            capture->nanoseconds ? answer.nanoseconds : answer.nanoseconds / 1000;
        capture->header.ts.tv_usec = static_cast<decltype(capture->header.ts.tv_usec)>(fraction);
        capture->header.caplen = static_cast<bpf_u_int32>(capture->frame.size());
        capture->header.len = answer.wireLength;
        *header = &capture->header;
        *data = capture->frame.data();
    }
    return answer.result;
}

void pcap_close(pcap_t* capture) {
    Script& script = TheScript();
    // A handle whose activation failed is released, but was never open.
    if (capture->opened) ++script.closes;
    --script.handles;
    delete capture;
    // The real close makes system calls of its own, which may leave an error code behind: a host
    // must still find the reason of a packet file that failed before it.
#if defined(_WIN32)
    SetLastError(ERROR_INVALID_HANDLE);
#else
    errno = EBADF;
#endif
}

}  // extern "C"
