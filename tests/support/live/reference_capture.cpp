#include "reference_capture.h"

#include <pcap/pcap.h>
#include <poll.h>

#include <stdexcept>

#include "mirrowen.h"

namespace mirrowen::testing {

ReferenceCapture::ReferenceCapture(const std::string& interfaceName) {
    char errorText[PCAP_ERRBUF_SIZE] = "";
    capture_ = pcap_create(interfaceName.c_str(), errorText);
    if (capture_ == nullptr) throw std::runtime_error(std::string("pcap_create: ") + errorText);
    constexpr int kBufferBytes = 64 << 20;
    if (pcap_set_snaplen(capture_, MIRROWEN_SNAPSHOT_LENGTH) != 0 ||
        pcap_set_immediate_mode(capture_, 1) != 0 ||
        pcap_set_buffer_size(capture_, kBufferBytes) != 0 ||
        pcap_set_tstamp_precision(capture_, PCAP_TSTAMP_PRECISION_NANO) != 0 ||
        pcap_activate(capture_) < 0 || pcap_setnonblock(capture_, 1, errorText) != 0) {
        const std::string why = pcap_geterr(capture_);
        pcap_close(capture_);
        throw std::runtime_error("cannot capture on " + interfaceName + ": " + why);
    }
    thread_ = std::thread([this] {
        const auto keep = [](u_char* self, const pcap_pkthdr* header, const u_char* bytes) {
            reinterpret_cast<ReferenceCapture*>(self)->frames_.push_back(
                {.bytes = Bytes(bytes, bytes + header->caplen),
                 .nanoseconds = std::int64_t{header->ts.tv_sec} * 1'000'000'000 +
                                header->ts.tv_usec});  // nanoseconds, as asked for
        };
        pollfd ready{.fd = pcap_get_selectable_fd(capture_), .events = POLLIN, .revents = 0};
        // Each wait is short, so that a stop is seen soon; the last dispatch after the stop reads
        // what was handed over before it.
        while (true) {
            const bool last = stopping_.load();
            poll(&ready, 1, 50);
            while (pcap_dispatch(capture_, -1, keep, reinterpret_cast<u_char*>(this)) > 0) {
            }
            if (last) return;
        }
    });
}

ReferenceCapture::~ReferenceCapture() { Stop(); }

std::vector<ReferenceCapture::Frame> ReferenceCapture::Stop() {
    if (thread_.joinable()) {
        stopping_.store(true);
        thread_.join();
        pcap_close(capture_);
    }
    return frames_;
}

}  // namespace mirrowen::testing
