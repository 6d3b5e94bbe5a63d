// libFuzzer target: any bytes a packet file may hold, read into the line that `mirrowen capture
// --show` prints for it. Built with AddressSanitizer and UndefinedBehaviorSanitizer, it must never
// read past the frame's end, and the line must give the frame's length and name only VLAN ids of
// 12 bits (a tag's priority and DEI bits are not part of the id).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "frame_summary.h"

namespace {

constexpr unsigned long kLargestVlanId = 4095;

[[noreturn]] void Fail(const char* what, const std::string& summary) {
    std::fprintf(stderr, "mirrowen frame fuzz: %s: %s\n", what, summary.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer hands over a heap block of exactly `size` bytes: a read past it is a finding.
    const std::string summary = mirrowen::tool::SummarizeFrame(std::span(data, size));
    if (summary.find("length " + std::to_string(size)) == std::string::npos) {
        Fail("the line does not give the frame's length", summary);
    }
    constexpr std::string_view kVlan = "vlan ";
    for (std::size_t at = summary.find(kVlan); at != std::string::npos;
         at = summary.find(kVlan, at + kVlan.size())) {
        if (std::strtoul(summary.c_str() + at + kVlan.size(), nullptr, 10) > kLargestVlanId) {
            Fail("a VLAN id of more than 12 bits", summary);
        }
    }
    return 0;
}
