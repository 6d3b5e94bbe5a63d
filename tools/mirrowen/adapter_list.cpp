#include "adapter_list.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "exit_status.h"
#include "library_names.h"

namespace mirrowen::tool {

namespace {

constexpr const char* kCaptureRights = "root, or the capabilities CAP_NET_RAW and CAP_NET_ADMIN";

struct Adapter {
    std::string source;
    std::string link;
    std::string flags;
    std::string description;
};

std::string FlagText(bpf_u_int32 flags) {
    std::string text;
    const auto add = [&text](const char* word) {
        if (!text.empty()) text += ", ";
        text += word;
    };
    if ((flags & PCAP_IF_UP) != 0) add("up");
    if ((flags & PCAP_IF_RUNNING) != 0) add("running");
    if ((flags & PCAP_IF_LOOPBACK) != 0) add("loopback");
    if ((flags & PCAP_IF_WIRELESS) != 0) add("wireless");
    return text.empty() ? "down" : text;
}

// Opens the device and closes it again: pcap_activate's status, with the link type where it opened.
int TryOpen(const char* device, bool promiscuous, int& linkType) {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_t* capture = pcap_create(device, errorText);
    if (capture == nullptr) return PCAP_ERROR;
    pcap_set_promisc(capture, promiscuous ? 1 : 0);
    const int status = pcap_activate(capture);
    if (status >= 0) linkType = pcap_datalink(capture);
    pcap_close(capture);
    return status;
}

// "Ethernet", "not Ethernet (Raw IP)", or "unknown" where the device cannot be opened; `denied`
// is set when that was for want of the right to capture.
std::string LinkText(const char* device, bool& denied) {
    int linkType = 0;
    const int status = TryOpen(device, false, linkType);
    if (status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED) {
        denied = true;
    }
    if (status < 0) return "unknown";
    if (linkType == DLT_EN10MB) return "Ethernet";
    const char* name = pcap_datalink_val_to_description(linkType);
    return std::string("not Ethernet (") + (name != nullptr ? name : "unknown link") + ")";
}

}  // namespace

int ListAdapters() {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errorText) != 0) {
        std::cerr << "mirrowen: libpcap cannot list the adapters: " << errorText << '\n';
        return kExitFailure;
    }
    std::vector<Adapter> adapters;
    bool denied = false;
    for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
        adapters.push_back({AdapterName(device->name), LinkText(device->name, denied),
                            FlagText(device->flags),
                            device->description != nullptr ? device->description : ""});
    }
    pcap_freealldevs(devices);
    if (adapters.empty()) {
        std::cerr << "mirrowen: libpcap found no adapters; listing some needs root\n";
        return kExitFailure;
    }

    std::size_t sourceWidth = 0;
    std::size_t linkWidth = 0;
    std::size_t flagsWidth = 0;
    for (const Adapter& adapter : adapters) {
        sourceWidth = std::max(sourceWidth, adapter.source.size());
        linkWidth = std::max(linkWidth, adapter.link.size());
        flagsWidth = std::max(flagsWidth, adapter.flags.size());
    }
    for (const Adapter& adapter : adapters) {
        std::string line = adapter.source;
        line.resize(sourceWidth + 2, ' ');
        line += adapter.link;
        line.resize(line.size() + linkWidth + 2 - adapter.link.size(), ' ');
        line += adapter.flags;
        if (!adapter.description.empty()) {
            line.resize(line.size() + flagsWidth + 2 - adapter.flags.size(), ' ');
            line += adapter.description;
        }
        std::cout << line << '\n';
    }
    if (denied) {
        std::cerr << "mirrowen: whether an adapter marked unknown carries Ethernet shows only "
                     "when it can be opened, which needs "
                  << kCaptureRights << '\n';
    }
    return kExitSuccess;
}

std::string AdapterOpenAdvice(const std::string& device) {
    int linkType = 0;
    // Promiscuous, as the capture opens it.
    switch (TryOpen(device.c_str(), true, linkType)) {
        case PCAP_ERROR_NO_SUCH_DEVICE:
            return "there is no adapter " + device + "; 'mirrowen list' shows those there are";
        case PCAP_ERROR_IFACE_NOT_UP:
            return "the adapter is down; bring it up (ip link set " + device +
                   " up) and start again";
        case PCAP_ERROR_PERM_DENIED:
        case PCAP_ERROR_PROMISC_PERM_DENIED:
            return std::string("capturing needs ") + kCaptureRights +
                   " (setcap cap_net_raw,cap_net_admin=eip on the program)";
        default:
            return std::string(
                       "check its name with 'mirrowen list', and that the program may "
                       "capture (") +
                   kCaptureRights + ")";
    }
}

}  // namespace mirrowen::tool
