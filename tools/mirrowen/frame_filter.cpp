// The filter's libpcap calls, all of them: pcap_open_dead, pcap_compile, pcap_geterr, pcap_close,
// pcap_offline_filter and pcap_freecode, what a build that binds wpcap.dll at run time must bind.
#include "frame_filter.h"

#include <pcap/pcap.h>

#include <iostream>

#include "library_names.h"

namespace mirrowen::tool {

namespace {

struct DeadCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

}  // namespace

void FrameFilter::ProgramDeleter::operator()(bpf_program* program) const {
    pcap_freecode(program);
    delete program;
}

FrameFilter::FrameFilter(std::unique_ptr<bpf_program, ProgramDeleter> program)
    : program_(std::move(program)) {}

std::optional<FrameFilter> FrameFilter::Compile(const std::string& expression, std::string& error) {
    // A capture handle that reads nothing, only for its link type and snapshot length: the
    // frames are the stored ones.
    const std::unique_ptr<pcap_t, DeadCloser> dead(
        pcap_open_dead(DLT_EN10MB, static_cast<int>(kSnapshotLength)));
    if (!dead) {
        error = "libpcap could not prepare an Ethernet filter";
        return std::nullopt;
    }
    auto program = std::make_unique<bpf_program>();
    // No netmask is known for stored frames, so libpcap refuses "ip broadcast", which needs one.
    if (pcap_compile(dead.get(), program.get(), expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        error = pcap_geterr(dead.get());
        return std::nullopt;
    }
    return FrameFilter(std::unique_ptr<bpf_program, ProgramDeleter>(program.release()));
}

bool FrameFilter::Matches(std::span<const unsigned char> frame) const {
    // The packet file holds the frame as captured; no longer one was seen on the wire.
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    return pcap_offline_filter(program_.get(), &header, frame.data()) != 0;
}

bool CompileFilterOption(const std::string& expression, std::optional<FrameFilter>& filter) {
    filter.reset();
    if (expression.empty()) return true;
    std::string error;
    filter = FrameFilter::Compile(expression, error);
    if (!filter) {
        std::cerr << "mirrowen: cannot use the filter '" << expression << "': " << error << '\n';
        return false;
    }
    return true;
}

}  // namespace mirrowen::tool
