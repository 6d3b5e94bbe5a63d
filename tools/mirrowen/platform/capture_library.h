// What the tool asks of the capture library itself: the adapter list with its Ethernet check, and
// filters over stored frames. Each platform folder implements it in its capture_library.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct bpf_program;  // the capture library's compiled filter

namespace mirrowen::tool::platform {

struct Adapter {
    std::string device;  // the capture library's name, without "rpcap://"
    std::string description;
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool wireless = false;
};

// The adapters the capture library reports, in its order; nothing, with its reason (or why there
// is no capture library) in `error`.
std::optional<std::vector<Adapter>> FindAdapters(std::string& error);

// How an open of a device went. Only libpcap tells a missing or down device and a denied right
// apart; wpcap.dll, which is loaded at run time, may be missing.
enum class OpenStatus { kOpened, kNoSuchDevice, kDown, kDenied, kNoCaptureLibrary, kFailed };
struct OpenTrial {
    OpenStatus status = OpenStatus::kFailed;
    bool ethernet = false;
    std::string linkDescription;  // of a link that is not Ethernet, empty if the library has none
};
// Opens the device for a moment, as the capture would (promiscuous or not), and closes it again.
OpenTrial TryOpen(const std::string& device, bool promiscuous);

// Whether the capture library could not be loaded: only wpcap.dll, which Windows loads at run
// time, can be missing; libpcap is linked.
bool CaptureLibraryMissing();

// Why the capture module could not open `device`, as far as the capture library tells when asked
// again: on POSIX libpcap's answer to a trial open as the capture makes it (promiscuous); on
// Windows, where pcap_open_live tells no reason, whether wpcap.dll is there at all.
OpenStatus WhyNotOpened(const std::string& device);

// Whether a live capture of the capture library is open in this process on `device`, as the
// system shows it, and the adapter carries Ethernet, so that the module goes on to capture. On
// Linux libpcap maps each live capture's ring into the process as the last step of its
// activation, once the kernel has set the ring up (which takes it seconds for a large one); the
// tool opens none of its own while the module captures, and then asks the adapter's link type
// itself (the module, which checks it next, may not have ended yet). Windows shows no such sign:
// there it is true before the call already, and a capture counts as live from the call.
// `ringBytes`: the size of the ring as mapped (0 where the system shows none).
bool CaptureIsOpenInProcess(const std::string& device, std::uint64_t& ringBytes);

// A filter program compiled by the capture library, released through it.
struct FilterRelease {
    void operator()(bpf_program* program) const;
};
using Filter = std::unique_ptr<bpf_program, FilterRelease>;
// Compiles a filter expression for Ethernet frames of up to `snapshotLength` bytes; nothing, with
// the capture library's reason in `error`, for a bad one or where filters cannot be had.
Filter CompileFilter(const std::string& expression, int snapshotLength, std::string& error);
bool FilterMatches(const bpf_program& program, std::span<const unsigned char> frame);

}  // namespace mirrowen::tool::platform
