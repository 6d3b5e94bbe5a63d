// The capture library on POSIX: libpcap, linked. Every libpcap call of the tool is here.
#include <pcap/pcap.h>

#include <charconv>
#include <fstream>

#include "platform/capture_library.h"

// After the capture library's declarations, whose flags it reads.
#include "platform/adapter_entries.h"

namespace mirrowen::tool::platform {

namespace {

OpenStatus OpenStatusOf(int activation) {
    if (activation >= 0) return OpenStatus::kOpened;
    switch (activation) {
        case PCAP_ERROR_NO_SUCH_DEVICE:
            return OpenStatus::kNoSuchDevice;
        case PCAP_ERROR_IFACE_NOT_UP:
            return OpenStatus::kDown;
        case PCAP_ERROR_PERM_DENIED:
        case PCAP_ERROR_PROMISC_PERM_DENIED:
            return OpenStatus::kDenied;
        default:
            return OpenStatus::kFailed;
    }
}

struct DeadCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

}  // namespace

std::optional<std::vector<Adapter>> FindAdapters(std::string& error) {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errorText) != 0) {
        error = std::string("libpcap cannot list the adapters: ") + errorText;
        return std::nullopt;
    }
    std::vector<Adapter> adapters = AdaptersOf(devices);
    pcap_freealldevs(devices);
    return adapters;
}

OpenTrial TryOpen(const std::string& device, bool promiscuous) {
    OpenTrial trial;
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_t* capture = pcap_create(device.c_str(), errorText);
    if (capture == nullptr) return trial;
    pcap_set_promisc(capture, promiscuous ? 1 : 0);
    trial.status = OpenStatusOf(pcap_activate(capture));
    if (trial.status == OpenStatus::kOpened) {
        const int linkType = pcap_datalink(capture);
        trial.ethernet = linkType == DLT_EN10MB;
        if (const char* name = pcap_datalink_val_to_description(linkType)) {
            trial.linkDescription = name;
        }
    }
    pcap_close(capture);
    return trial;
}

bool CaptureIsOpenInProcess(const std::string& device, std::uint64_t& ringBytes) {
    // A mapping of a socket, as /proc names it ("start-end perms ... socket:[12345]"), is a packet
    // socket's ring.
    std::ifstream mappings("/proc/self/maps");
    for (std::string mapping; std::getline(mappings, mapping);) {
        if (mapping.ends_with("]") && mapping.find(" socket:[") != std::string::npos) {
            std::uint64_t start = 0;
            std::uint64_t end = 0;
            const char* text = mapping.c_str();
            const auto [dash, startError] = std::from_chars(text, text + mapping.size(), start, 16);
            const auto [stop, endError] = std::from_chars(dash + 1, text + mapping.size(), end, 16);
            static_cast<void>(stop);
            ringBytes = startError == std::errc{} && endError == std::errc{} && end > start
                            ? end - start
                            : 0;
            // With libpcap's default ring, which opens in a moment.
            return TryOpen(device, false).ethernet;
        }
    }
    return false;
}

bool CaptureLibraryMissing() { return false; }

OpenStatus WhyNotOpened(const std::string& device) { return TryOpen(device, true).status; }

Filter CompileFilter(const std::string& expression, int snapshotLength, std::string& error) {
    // A capture handle that reads nothing, only for its link type and snapshot length: the frames
    // are the stored ones.
    const std::unique_ptr<pcap_t, DeadCloser> dead(pcap_open_dead(DLT_EN10MB, snapshotLength));
    if (!dead) {
        error = "libpcap could not prepare an Ethernet filter";
        return nullptr;
    }
    auto program = std::make_unique<bpf_program>();
    // No netmask is known for stored frames, so libpcap refuses "ip broadcast", which needs one.
    if (pcap_compile(dead.get(), program.get(), expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        error = pcap_geterr(dead.get());
        return nullptr;
    }
    return Filter(program.release());
}

bool FilterMatches(const bpf_program& program, std::span<const unsigned char> frame) {
    // The packet file holds the frame as captured; no longer one was seen on the wire.
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    return pcap_offline_filter(&program, &header, frame.data()) != 0;
}

void FilterRelease::operator()(bpf_program* program) const {
    pcap_freecode(program);
    delete program;
}

}  // namespace mirrowen::tool::platform
