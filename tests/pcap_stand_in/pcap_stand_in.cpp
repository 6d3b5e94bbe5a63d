#include "pcap_stand_in.h"

#if defined(_WIN32)
#include "platform/win32/wpcap.h"  // wpcap.dll's interface, as the library itself binds it
#else
#include <pcap/pcap.h>
#endif

#include <cstring>
#include <deque>
#include <string>
#include <vector>

struct pcap {
    pcap_pkthdr header{};
    std::vector<unsigned char> frame;
};

namespace {

struct Answer {
    int result = 0;
    std::vector<unsigned char> frame;
};

struct Script {
    std::string openFailure;
    bool failOpen = false;
    std::string openWarning;
    int linkType = DLT_EN10MB;
    std::deque<Answer> answers;
    StandInReadHook readHook = nullptr;
    void* readHookContext = nullptr;
    StandInOpenHook openHook = nullptr;
    void* openHookContext = nullptr;

    int opens = 0;
    int closes = 0;
    int reads = 0;
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

}  // namespace

extern "C" {

void StandInReset(void) { TheScript() = Script{}; }

void StandInFailOpen(const char* errorText) {
    TheScript().failOpen = true;
    TheScript().openFailure = errorText;
}

void StandInWarnOnOpen(const char* warningText) { TheScript().openWarning = warningText; }

void StandInSetLinkType(int linkType) { TheScript().linkType = linkType; }

void StandInQueueFrame(const unsigned char* bytes, uint32_t capturedLength) {
    TheScript().answers.push_back(
        Answer{1, std::vector<unsigned char>(bytes, bytes + capturedLength)});
}

void StandInQueueTimeout(void) { TheScript().answers.push_back(Answer{0, {}}); }

void StandInQueueResult(int result) { TheScript().answers.push_back(Answer{result, {}}); }

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
int StandInReadCount(void) { return TheScript().reads; }
const char* StandInOpenedDevice(void) { return TheScript().device.c_str(); }
int StandInOpenedSnapshotLength(void) { return TheScript().snapshotLength; }
int StandInOpenedPromiscuous(void) { return TheScript().promiscuous; }
int StandInOpenedTimeoutMs(void) { return TheScript().timeoutMs; }

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
    ++script.opens;
    if (script.openHook != nullptr) script.openHook(script.openHookContext);
    return new pcap;
}

int pcap_datalink(pcap_t*) { return TheScript().linkType; }

#if !defined(_WIN32)
// Asked for only by the Linux reads; blocking reads whose timeout fires are what is scripted.
int pcap_setnonblock(pcap_t*, int, char*) { return 0; }

int pcap_getnonblock(pcap_t*, char*) { return 0; }

int pcap_get_selectable_fd(pcap_t*) { return -1; }

const struct timeval* pcap_get_required_select_timeout(pcap_t*) { return nullptr; }
#endif

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
        capture->header.caplen = static_cast<bpf_u_int32>(capture->frame.size());
        capture->header.len = capture->header.caplen;
        *header = &capture->header;
        *data = capture->frame.data();
    }
    return answer.result;
}

void pcap_close(pcap_t* capture) {
    ++TheScript().closes;
    delete capture;
}

}  // extern "C"
