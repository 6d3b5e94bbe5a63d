// A host of the real Mirrowen.dll over the capture library the system provides, driven from Linux
// by the real-frames test (tests/integration/real_frames_under_wine_test.cpp), which runs it under
// Wine of its own architecture with Wine's own wpcap.dll inside a network namespace of the test's
// own. It finds its adapter as a user's program would, in the capture library's own list, and
// reports on standard output, one line at a time:
//   capture <description> <folder>
//       "capturing on rpcap://<name>" for the adapter whose description is <description>, then
//       calls Mirrowen on it until standard input ends, and "result <code> files <count>".
//   missing <adapter name> <folder>
//       calls Mirrowen on an adapter that does not exist: "result <code>", "box <caption>: <text>"
//       for the message box it showed (read and dismissed) or "box none", and "open_live <text>",
//       the capture library's own reason for the same name.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "wine_test_support.h"

namespace mirrowen::testing {
namespace {

// The capture library's adapter list and open, as wpcap.dll exports them.
struct AdapterEntry {
    AdapterEntry* next;
    char* name;
    char* description;
    void* addresses;
    unsigned flags;
};
using FindAllDevices = int(__cdecl*)(AdapterEntry** list, char* errorText);
using FreeAllDevices = void(__cdecl*)(AdapterEntry* list);
using OpenLive = void*(__cdecl*)(const char* device, int snapshotLength, int promiscuous,
                                 int timeoutMs, char* errorText);
using Close = void(__cdecl*)(void* capture);
constexpr std::size_t kErrorTextSize = 256;

// The function of wpcap.dll by that name; ends the program, saying so, where there is none.
template <typename Function>
Function Bound(const char* name) {
    static const HMODULE wpcap = LoadLibraryA("wpcap.dll");
    const auto function = reinterpret_cast<Function>(
        reinterpret_cast<void*>(wpcap == nullptr ? nullptr : GetProcAddress(wpcap, name)));
    if (function == nullptr) {
        std::fprintf(stderr, "no %s in wpcap.dll\n", name);
        std::exit(1);
    }
    return function;
}

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Reads standard input to its end (a pipe the driver closes).
void WaitForEndOfInput() {
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
           read != 0) {
    }
}

int Capture(const std::string& description, const std::string& folder) {
    const auto findAll = Bound<FindAllDevices>("pcap_findalldevs");
    const auto freeAll = Bound<FreeAllDevices>("pcap_freealldevs");
    char errorText[kErrorTextSize] = "";
    AdapterEntry* adapters = nullptr;
    if (findAll(&adapters, errorText) != 0) {
        std::fprintf(stderr, "pcap_findalldevs: %s\n", errorText);
        return 1;
    }
    std::string adapter;
    std::string listed;
    for (const AdapterEntry* entry = adapters; entry != nullptr; entry = entry->next) {
        const std::string entryDescription = entry->description ? entry->description : "";
        // Appended piece by piece: GCC 12's optimiser warns falsely of overlapping copies in
        // " " + std::string(...).
        listed.append(" ").append(entry->name).append(" (").append(entryDescription).append(")");
        if (entryDescription == description) adapter = AdapterName(entry->name);
    }
    freeAll(adapters);
    if (adapter.empty()) {
        std::fprintf(stderr, "no adapter described as %s among:%s\n", description.c_str(),
                     listed.c_str());
        return 1;
    }

    std::vector<char> path = PathBuffer(folder);
    std::int32_t stopFlag = 0;
    std::int32_t fileCount = 0;
    std::int32_t result = 0;
    Say("capturing on " + adapter);
    std::thread call([&] {
        result = TheMirrowen()(adapter.c_str(), nullptr, path.data(), &stopFlag, &fileCount);
    });
    WaitForEndOfInput();
    std::atomic_ref<std::int32_t>(stopFlag).store(1);
    call.join();
    Say("result " + std::to_string(result) + " files " +
        std::to_string(std::atomic_ref<std::int32_t>(fileCount).load()));
    return 0;
}

int Missing(const std::string& name, const std::string& folder) {
    const auto openLive = Bound<OpenLive>("pcap_open_live");
    const auto close = Bound<Close>("pcap_close");
    std::vector<char> path = PathBuffer(folder);
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
    BoxWatcher watcher;
    const std::int32_t result =
        TheMirrowen()(AdapterName(name).c_str(), nullptr, path.data(), &stopFlag, &fileCount);
    watcher.CallReturned();
    const SeenBox seen = watcher.Seen();
    Say("result " + std::to_string(result));
    Say(seen.found ? "box " + seen.caption + ": " + seen.text : "box none");

    char errorText[kErrorTextSize] = "";
    if (void* capture = openLive(name.c_str(), MIRROWEN_SNAPSHOT_LENGTH, 1, 200, errorText))
        close(capture);
    Say("open_live " + std::string(errorText));
    return 0;
}

}  // namespace
}  // namespace mirrowen::testing

int main(int argc, char** argv) {
    using namespace mirrowen::testing;
    const std::string mode = argc == 4 ? argv[1] : "";
    if (mode == "capture") return Capture(argv[2], argv[3]);
    if (mode == "missing") return Missing(argv[2], argv[3]);
    std::fprintf(stderr, "usage: %s capture <description> <folder> | missing <name> <folder>\n",
                 argv[0]);
    return 2;
}
