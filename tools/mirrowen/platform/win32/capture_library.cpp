// The capture library on Windows: wpcap.dll, bound at run time the way Mirrowen.dll binds it, and
// only for what needs it here (the adapter list with its Ethernet check, filters): a capture leaves
// it to Mirrowen.dll, and an export needs none. Without it, those say why.
#include <windows.h>

#include <cstring>

#include "library_names.h"
#include "platform/capture_library.h"
#include "platform/process.h"
#include "wpcap.h"
#include "wpcap_library.h"

// After the capture library's declarations, whose flags it reads.
#include "platform/adapter_entries.h"

namespace mirrowen::tool::platform {

namespace {

using mirrowen::platform::BindWpcap;

struct Wpcap {
    std::string failure;  // why wpcap.dll could not be loaded; empty once it is
    bool wineBuiltin = false;
    decltype(&pcap_findalldevs) findAllDevices = nullptr;
    decltype(&pcap_freealldevs) freeAllDevices = nullptr;
    decltype(&pcap_open_live) openLive = nullptr;
    decltype(&pcap_datalink) datalink = nullptr;
    decltype(&pcap_datalink_val_to_description) linkDescription = nullptr;
    decltype(&pcap_close) close = nullptr;
    decltype(&pcap_open_dead) openDead = nullptr;
    decltype(&pcap_compile) compile = nullptr;
    decltype(&pcap_geterr) errorText = nullptr;
    decltype(&pcap_offline_filter) offlineFilter = nullptr;
    decltype(&pcap_freecode) freeCode = nullptr;
};

// Wine marks the DLLs of its own making with this text in the DOS stub of their header.
bool IsWineBuiltin(HMODULE module) {
    constexpr std::size_t kStubOffset = 0x40;
    constexpr char kSignature[] = "Wine builtin DLL";
    return std::memcmp(reinterpret_cast<const char*>(module) + kStubOffset, kSignature,
                       sizeof kSignature - 1) == 0;
}

Wpcap BindTheCaptureLibrary() {
    Wpcap wpcap;
    const HMODULE module = mirrowen::platform::LoadWpcap();
    if (module == nullptr) {
        wpcap.failure = "the capture library wpcap.dll cannot be loaded: " +
                        SystemErrorText(static_cast<int>(GetLastError()));
        return wpcap;
    }
    // Each use checks for what it needs: one capture library may lack what another has.
    wpcap.wineBuiltin = IsWineBuiltin(module);
    BindWpcap(module, "pcap_findalldevs", wpcap.findAllDevices);
    BindWpcap(module, "pcap_freealldevs", wpcap.freeAllDevices);
    BindWpcap(module, "pcap_open_live", wpcap.openLive);
    BindWpcap(module, "pcap_datalink", wpcap.datalink);
    BindWpcap(module, "pcap_datalink_val_to_description", wpcap.linkDescription);
    BindWpcap(module, "pcap_close", wpcap.close);
    BindWpcap(module, "pcap_open_dead", wpcap.openDead);
    BindWpcap(module, "pcap_compile", wpcap.compile);
    BindWpcap(module, "pcap_geterr", wpcap.errorText);
    BindWpcap(module, "pcap_offline_filter", wpcap.offlineFilter);
    BindWpcap(module, "pcap_freecode", wpcap.freeCode);
    return wpcap;
}

// Bound once, at the first use; kept loaded for the rest of the run.
const Wpcap& TheCaptureLibrary() {
    static const Wpcap wpcap = BindTheCaptureLibrary();
    return wpcap;
}

struct Needed {
    const char* name;
    bool bound;
};

// Why the capture library cannot do what needs `functions`; empty when it can.
std::string WhyNot(const Wpcap& wpcap, std::initializer_list<Needed> functions) {
    if (!wpcap.failure.empty()) return wpcap.failure;
    for (const Needed& function : functions) {
        if (!function.bound) return std::string("wpcap.dll has no ") + function.name;
    }
    return {};
}

std::string WhyNoAdapterList(const Wpcap& wpcap) {
    return WhyNot(wpcap, {{"pcap_findalldevs", wpcap.findAllDevices != nullptr},
                          {"pcap_freealldevs", wpcap.freeAllDevices != nullptr}});
}

std::string WhyNoTrialOpen(const Wpcap& wpcap) {
    return WhyNot(wpcap, {{"pcap_open_live", wpcap.openLive != nullptr},
                          {"pcap_datalink", wpcap.datalink != nullptr},
                          {"pcap_close", wpcap.close != nullptr}});
}

std::string WhyNoFilters(const Wpcap& wpcap) {
    // Wine's own wpcap.dll exports these, but as stubs that end the program when called.
    if (wpcap.failure.empty() && wpcap.wineBuiltin) {
        return "Wine's own wpcap.dll does not implement pcap_open_dead and pcap_offline_filter, "
               "which filters need";
    }
    return WhyNot(wpcap, {{"pcap_open_dead", wpcap.openDead != nullptr},
                          {"pcap_compile", wpcap.compile != nullptr},
                          {"pcap_geterr", wpcap.errorText != nullptr},
                          {"pcap_close", wpcap.close != nullptr},
                          {"pcap_offline_filter", wpcap.offlineFilter != nullptr},
                          {"pcap_freecode", wpcap.freeCode != nullptr}});
}

}  // namespace

std::optional<std::vector<Adapter>> FindAdapters(std::string& error) {
    const Wpcap& wpcap = TheCaptureLibrary();
    if (error = WhyNoAdapterList(wpcap); !error.empty()) return std::nullopt;
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (wpcap.findAllDevices(&devices, errorText) != 0) {
        error = std::string("the capture library cannot list the adapters: ") + errorText;
        return std::nullopt;
    }
    std::vector<Adapter> adapters = AdaptersOf(devices);
    wpcap.freeAllDevices(devices);
    return adapters;
}

// pcap_open_live, as Mirrowen.dll opens an adapter: it tells whether the adapter opened, not why
// it did not.
OpenTrial TryOpen(const std::string& device, bool promiscuous) {
    OpenTrial trial;
    const Wpcap& wpcap = TheCaptureLibrary();
    if (!WhyNoTrialOpen(wpcap).empty()) return trial;
    char errorText[PCAP_ERRBUF_SIZE] = {};
    constexpr int kNoReadTimeout = 0;  // nothing is read
    pcap_t* capture = wpcap.openLive(device.c_str(), static_cast<int>(kSnapshotLength),
                                     promiscuous ? 1 : 0, kNoReadTimeout, errorText);
    if (capture == nullptr) return trial;
    trial.status = OpenStatus::kOpened;
    const int linkType = wpcap.datalink(capture);
    trial.ethernet = linkType == DLT_EN10MB;
    if (wpcap.linkDescription != nullptr) {
        if (const char* name = wpcap.linkDescription(linkType)) trial.linkDescription = name;
    }
    wpcap.close(capture);
    return trial;
}

bool CaptureIsOpenInProcess(const std::string&, std::uint64_t& ringBytes) {
    ringBytes = 0;
    return true;
}

bool CaptureLibraryMissing() { return !TheCaptureLibrary().failure.empty(); }

OpenStatus WhyNotOpened(const std::string&) {
    return CaptureLibraryMissing() ? OpenStatus::kNoCaptureLibrary : OpenStatus::kFailed;
}

Filter CompileFilter(const std::string& expression, int snapshotLength, std::string& error) {
    const Wpcap& wpcap = TheCaptureLibrary();
    if (error = WhyNoFilters(wpcap); !error.empty()) return nullptr;
    // A capture handle that reads nothing, only for its link type and snapshot length: the frames
    // are the stored ones.
    pcap_t* dead = wpcap.openDead(DLT_EN10MB, snapshotLength);
    if (dead == nullptr) {
        error = "the capture library could not prepare an Ethernet filter";
        return nullptr;
    }
    auto program = std::make_unique<bpf_program>();
    // No netmask is known for stored frames, so "ip broadcast", which needs one, is refused.
    const bool compiled =
        wpcap.compile(dead, program.get(), expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (!compiled) error = wpcap.errorText(dead);
    wpcap.close(dead);
    return compiled ? Filter(program.release()) : nullptr;
}

bool FilterMatches(const bpf_program& program, std::span<const unsigned char> frame) {
    // The packet file holds the frame as captured; no longer one was seen on the wire.
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    return TheCaptureLibrary().offlineFilter(&program, &header, frame.data()) != 0;
}

void FilterRelease::operator()(bpf_program* program) const {
    TheCaptureLibrary().freeCode(program);
    delete program;
}

}  // namespace mirrowen::tool::platform
