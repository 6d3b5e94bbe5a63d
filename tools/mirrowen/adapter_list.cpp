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

struct Adapter {
    std::string source;
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

}  // namespace

int ListAdapters() {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errorText) != 0) {
        std::cerr << "mirrowen: libpcap cannot list the adapters: " << errorText << '\n';
        return kExitFailure;
    }
    std::vector<Adapter> adapters;
    for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
        adapters.push_back({AdapterName(device->name), FlagText(device->flags),
                            device->description != nullptr ? device->description : ""});
    }
    pcap_freealldevs(devices);
    if (adapters.empty()) {
        std::cerr << "mirrowen: libpcap found no adapters; listing some needs root\n";
        return kExitFailure;
    }

    std::size_t sourceWidth = 0;
    std::size_t flagsWidth = 0;
    for (const Adapter& adapter : adapters) {
        sourceWidth = std::max(sourceWidth, adapter.source.size());
        flagsWidth = std::max(flagsWidth, adapter.flags.size());
    }
    for (const Adapter& adapter : adapters) {
        std::string line = adapter.source;
        line.resize(sourceWidth + 2, ' ');
        line += adapter.flags;
        if (!adapter.description.empty()) {
            line.resize(sourceWidth + 2 + flagsWidth + 2, ' ');
            line += adapter.description;
        }
        std::cout << line << '\n';
    }
    return kExitSuccess;
}

}  // namespace mirrowen::tool
