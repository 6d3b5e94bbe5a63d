#include "demo.h"

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stop_token>
#include <string>
#include <thread>

#include "capture_session.h"
#include "exit_status.h"
#include "library_names.h"
#include "packet_folder.h"
#include "pcap_export.h"
#include "platform/loopback_sender.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

using namespace std::chrono_literals;

constexpr int kDatagrams = 20;
constexpr std::size_t kDatagramSize = 300;  // frames well over the 60 bytes the capture skips
constexpr auto kDatagramSpacing = 100ms;
constexpr double kCaptureSeconds = 4.5;
// Setting up the capture's ring can take the kernel seconds.
constexpr auto kLongestWaitForTheCapture = 30s;

// Sends kDatagrams UDP datagrams to a socket of its own on 127.0.0.1, never anywhere else, once
// the capture is live.
void SendLoopbackTraffic(const std::stop_token& stop, const std::atomic<bool>& live) {
    const platform::LoopbackSender sender;
    if (!sender.Ready()) {
        std::cerr << "mirrowen: the demo cannot open a socket on 127.0.0.1\n";
        return;
    }
    const auto givenUp = std::chrono::steady_clock::now() + kLongestWaitForTheCapture;
    while (!live.load() && !stop.stop_requested() && std::chrono::steady_clock::now() < givenUp) {
        std::this_thread::sleep_for(10ms);
    }
    for (int index = 1; index <= kDatagrams && live.load() && !stop.stop_requested(); ++index) {
        // The text, then zero bytes up to the datagram's size.
        std::array<char, kDatagramSize> payload{};
        const std::string text =
            "Mirrowen demo datagram " + std::to_string(index) + " of " + std::to_string(kDatagrams);
        text.copy(payload.data(), payload.size());
        sender.Send(payload);
        std::this_thread::sleep_for(kDatagramSpacing);
    }
}

}  // namespace

int RunDemo(MirrowenFunction mirrowen, const std::string& outputFolder,
            const std::optional<FrameViewerProgram>& viewer) {
    const std::filesystem::path base = std::filesystem::absolute(outputFolder);
    const std::filesystem::path captures = base / "captures";
    const std::filesystem::path pcap = base / "demo.pcap";
    std::error_code error;
    std::filesystem::create_directories(captures, error);
    if (error) {
        std::cerr << "mirrowen: cannot create " << captures.string() << ": " << error.message()
                  << "; choose another folder with -o\n";
        return kExitFailure;
    }
    // The export is to hold this run's frames only: an earlier demo's packet files go.
    bool created = false;  // by create_directories, above
    if (const int status = PrepareCaptureFolder(captures.string(), true, true, created);
        status != kExitSuccess) {
        return status;
    }

    CaptureRequest request;
    request.adapterName = AdapterName(platform::kDefaultDevice);
    request.folderPath = captures.string();
    request.durationSeconds = kCaptureSeconds;
    request.showFrames = viewer.has_value();
    request.viewer = viewer;
    std::cout << "The demo sends " << kDatagrams
              << " UDP datagrams to 127.0.0.1 once the capture is live, and stops it after "
              << kCaptureSeconds << " s." << std::endl;
    std::atomic<bool> live{false};
    request.whenLive = [&live] { live.store(true); };
    CaptureOutcome outcome;
    {
        const std::jthread traffic(SendLoopbackTraffic, std::cref(live));
        outcome = RunCapture(mirrowen, request);
    }
    const int captureStatus = ReportCapture(request, outcome);
    if (captureStatus != kExitSuccess) return captureStatus;
    if (outcome.files == 0) {
        std::cerr << "mirrowen: the demo captured no frames on " << request.adapterName
                  << "; check that the loopback adapter is up ('mirrowen list')\n";
        return kExitFailure;
    }

    const ExportReport report = ExportToPcap(captures.string(), pcap.string());
    const int exportStatus = ReportExport(captures.string(), pcap.string(), report);
    if (exportStatus != kExitSuccess) return exportStatus;

    std::cout << "\nThe packet files, one raw frame each: " << captures.string() << "/1.hda to "
              << outcome.files << ".hda\n"
              << "Look at them:\n"
              << "  tshark -r " << pcap.string() << "\n"
              << "  tshark -r " << pcap.string() << " -Y 'udp' -x | head -n 40\n"
              << "  od -A d -t x1 " << (captures / PacketFileName(1)).string() << "\n";
    return kExitSuccess;
}

}  // namespace mirrowen::tool
