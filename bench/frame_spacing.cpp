#include "frame_spacing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "live_peers.h"
#include "traffic_generator.h"

namespace mirrowen::bench {

namespace {

using namespace std::chrono_literals;
using testing::VethNamespace;
namespace fs = std::filesystem;

constexpr int kFrames = 20;
constexpr double kFramesPerSecond = 20;  // 50 ms apart
constexpr double kAllowedMs = 2;

double ModificationSeconds(const fs::path& file) {
    struct stat status {};
    if (stat(file.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + file.string());
    return static_cast<double>(status.st_mtim.tv_sec) +
           static_cast<double>(status.st_mtim.tv_nsec) / 1e9;
}

// The frames' times (seconds since the epoch) in a pcap, as tshark reads them.
std::vector<double> TsharkTimes(const fs::path& pcap) {
    const std::string command =
        "tshark -r '" + pcap.string() + "' -T fields -e frame.time_epoch 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) throw std::runtime_error("cannot run tshark");
    std::vector<double> times;
    double time = 0;
    while (std::fscanf(output, "%lf", &time) == 1) times.push_back(time);
    pclose(output);
    return times;
}

// Differences between neighbours, in milliseconds.
std::vector<double> IntervalsMs(const std::vector<double>& seconds) {
    std::vector<double> intervals;
    for (std::size_t i = 1; i < seconds.size(); ++i) {
        intervals.push_back((seconds[i] - seconds[i - 1]) * 1000);
    }
    return intervals;
}

}  // namespace

void FrameSpacing(MirrowenFunction function, const std::string& toolPath) {
    Folders folders;
    const VethNamespace network;
    const fs::path folder = folders.Fresh("tmpfs");
    std::vector<Clock::time_point> acceptedAt;
    {
        testing::CaptureRun capture(function, VethNamespace::CaptureAdapter(), folder.string());
        WaitUntilCapturing(capture, testing::FrameSender(VethNamespace::kSendEnd));
        TrafficGenerator generator(VethNamespace::kSendEnd);
        generator.Send(1514, 0, kFrames, kFramesPerSecond, 10s, &acceptedAt);
        WaitUntilQuiet([&] { return capture.FileCount(); });
        capture.Stop();
        Finish(capture);
    }
    const std::uint64_t probes = LeadingProbeFiles(folder);
    std::vector<double> sent, stored;
    for (const Clock::time_point at : acceptedAt) sent.push_back(Seconds(at - acceptedAt.front()));
    for (auto number = static_cast<std::int64_t>(probes) + 1;
         fs::exists(testing::PacketFile(folder, number)); ++number) {
        stored.push_back(ModificationSeconds(testing::PacketFile(folder, number)));
    }
    const fs::path pcap = folders.ScratchFile("spacing.pcap");
    const std::string exportCommand =
        "'" + toolPath + "' export '" + folder.string() + "' '" + pcap.string() + "' >/dev/null";
    if (std::system(exportCommand.c_str()) != 0) throw std::runtime_error("export failed");
    std::vector<double> exported = TsharkTimes(pcap);
    exported.erase(exported.begin(),
                   exported.begin() + static_cast<std::ptrdiff_t>(
                                          std::min<std::uint64_t>(probes, exported.size())));
    if (sent.size() != kFrames || stored.size() != kFrames || exported.size() != kFrames) {
        throw std::runtime_error(
            "frames sent, stored and exported: " + std::to_string(sent.size()) + ", " +
            std::to_string(stored.size()) + ", " + std::to_string(exported.size()));
    }

    const std::vector<double> sentMs = IntervalsMs(sent), storedMs = IntervalsMs(stored),
                              exportedMs = IntervalsMs(exported);
    std::printf(
        "| frame | sent, ms after the frame before | stored (file time) | exported (tshark) | "
        "exported - sent |\n|---:|---:|---:|---:|---:|\n");
    double largestDifference = 0;
    for (std::size_t i = 0; i < sentMs.size(); ++i) {
        const double difference = exportedMs[i] - sentMs[i];
        largestDifference = std::max(largestDifference, std::abs(difference));
        std::printf("| %zu | %.3f | %.3f | %.3f | %+.3f |\n", i + 2, sentMs[i], storedMs[i],
                    exportedMs[i], difference);
    }
    const auto range = [](const std::vector<double>& values) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f to %.3f",
                      *std::min_element(values.begin(), values.end()),
                      *std::max_element(values.begin(), values.end()));
        return std::string(text);
    };
    std::printf(
        "\nIntervals, ms: sent %s, stored %s, exported %s. Largest difference between an "
        "exported interval and the sent one: %.3f ms (within %.0f ms: %s).\n",
        range(sentMs).c_str(), range(storedMs).c_str(), range(exportedMs).c_str(),
        largestDifference, kAllowedMs, largestDifference <= kAllowedMs ? "yes" : "no");
}

}  // namespace mirrowen::bench
