// The library's per-frame store step against the floor that the design allows: a bare create,
// write, set of the modification time and close of the same names and sizes in the same folder.
//
// A machine shared with other work drifts by far more than the difference sought, so the two are
// measured in alternating blocks within one run: each block of file numbers is first stored by
// one side, removed (untimed), and stored again by the other, the side going first taking turns.
// Both therefore create new files of the same names, in the same growing folder, under the same
// disturbances. Each run reports library and floor frames/s and the median of the blocks'
// ratios; the summary gives the medians of these over the repetitions.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/host_integer.h"
#include "packetfile/packet_files.h"
#include "scratch_folders.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kBlocksPerRun = 40;
constexpr int kFilesPerBlock = 250;
constexpr int kRepetitions = 7;
constexpr int kFrameSizes[] = {64, 512, 1514};

// The capture time every stored frame is given.
constexpr mirrowen::platform::CaptureTime kCaptureTime{.seconds = 1700000000,
                                                       .nanoseconds = 123456789};

// The floor: the four system calls alone, on names made beforehand.
bool StoreFloorBlock(const std::vector<std::string>& names,
                     const std::vector<unsigned char>& frame) {
    const timespec times[2] = {
        {.tv_sec = 0, .tv_nsec = UTIME_OMIT},
        {.tv_sec = kCaptureTime.seconds, .tv_nsec = kCaptureTime.nanoseconds}};
    for (const std::string& name : names) {
        const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (file < 0) return false;
        const bool written = write(file, frame.data(), frame.size()) == std::ssize(frame) &&
                             futimens(file, times) == 0;
        if (close(file) != 0 || !written) return false;
    }
    return true;
}

bool StoreLibraryBlock(mirrowen::packetfile::PacketFileWriter& writer,
                       const std::vector<unsigned char>& frame) {
    for (int i = 0; i < kFilesPerBlock; ++i) {
        if (writer.Store(frame.data(), static_cast<std::uint32_t>(frame.size()), kCaptureTime) !=
            mirrowen::platform::kNoError)
            return false;
    }
    return true;
}

void RemoveBlock(const std::vector<std::string>& names) {
    for (const std::string& name : names) unlink(name.c_str());
}

void StorePaired(benchmark::State& state, std::filesystem::path parent, int size) {
    const std::vector<unsigned char> frame =
        mirrowen::testing::PatternBytes(static_cast<std::size_t>(size));
    const mirrowen::testing::TemporaryFolder folder(parent);
    const std::string folderPath = folder.path().string();
    std::int32_t fileCount = 0;
    mirrowen::packetfile::PacketFileWriter writer(folderPath.c_str(),
                                                  mirrowen::HostInteger(&fileCount));
    std::vector<std::string> names(kFilesPerBlock);
    Clock::duration libraryTime{}, floorTime{};
    std::vector<double> blockRatios;
    blockRatios.reserve(kBlocksPerRun);
    std::int64_t block = 0;
    for (auto _ : state) {
        const int first = static_cast<int>(block) * kFilesPerBlock + 1;
        for (int i = 0; i < kFilesPerBlock; ++i) {
            names[static_cast<std::size_t>(i)] =
                folderPath + "/" + mirrowen::testing::PacketFileName(first + i);
        }
        const bool libraryFirst = block++ % 2 == 0;
        bool stored = true;
        Clock::duration libraryBlock{}, floorBlock{};
        for (int turn = 0; turn < 2 && stored; ++turn) {
            const bool library = (turn == 0) == libraryFirst;
            const auto start = Clock::now();
            stored = library ? StoreLibraryBlock(writer, frame) : StoreFloorBlock(names, frame);
            (library ? libraryBlock : floorBlock) = Clock::now() - start;
            if (turn == 0) RemoveBlock(names);
        }
        if (!stored) {
            state.SkipWithError("a file could not be stored");
            break;
        }
        libraryTime += libraryBlock;
        floorTime += floorBlock;
        blockRatios.push_back(std::chrono::duration<double>(floorBlock) / libraryBlock);
        // The time shown per iteration is that of one block on both sides.
        state.SetIterationTime(std::chrono::duration<double>(libraryBlock + floorBlock).count());
    }
    const double files = static_cast<double>(block * kFilesPerBlock);
    const double libraryRate = files / std::chrono::duration<double>(libraryTime).count();
    const double floorRate = files / std::chrono::duration<double>(floorTime).count();
    state.counters["library_per_s"] = libraryRate;
    state.counters["floor_per_s"] = floorRate;
    // The median of the blocks' ratios: a disturbance that hits one side of a few blocks moves
    // the totals above, but hardly this.
    std::sort(blockRatios.begin(), blockRatios.end());
    state.counters["ratio"] = blockRatios.empty() ? 0 : blockRatios[blockRatios.size() / 2];
}

// Prints the usual console lines, and at the end one table of the medians.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                !run.error_occurred) {
                medians_[run.run_name.function_name] = run.counters;
            }
        }
    }

    void PrintSummary(const std::map<std::string, std::string>& fileSystems) const {
        std::printf("\nMedians of %d runs of %lld files per side:\n\n", kRepetitions,
                    static_cast<long long>(kBlocksPerRun * kFilesPerBlock));
        std::printf(
            "| file system | frame bytes | library frames/s | floor frames/s | "
            "library / floor | >= 0.95 |\n|---|---:|---:|---:|---:|---|\n");
        for (const auto& [label, type] : fileSystems) {
            for (const int size : kFrameSizes) {
                const auto found = medians_.find(label + "/" + std::to_string(size));
                if (found == medians_.end()) continue;
                const double ratio = found->second.at("ratio");
                std::printf("| %s (%s) | %d | %.0f | %.0f | %.3f | %s |\n", label.c_str(),
                            type.c_str(), size, found->second.at("library_per_s").value,
                            found->second.at("floor_per_s").value, ratio,
                            ratio >= 0.95 ? "yes" : "no");
            }
        }
    }

  private:
    std::map<std::string, benchmark::UserCounters> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    const mirrowen::bench::ScratchTmpfs tmpfs;
    const mirrowen::testing::TemporaryFolder disk(mirrowen::bench::DiskParent());
    const std::map<std::string, std::filesystem::path> parents = {{"tmpfs", tmpfs.path()},
                                                                  {"disk", disk.path()}};
    std::map<std::string, std::string> fileSystems;
    for (const auto& [label, parent] : parents) {
        fileSystems[label] = mirrowen::bench::FileSystemType(parent);
        for (const int size : kFrameSizes) {
            benchmark::RegisterBenchmark((label + "/" + std::to_string(size)).c_str(), StorePaired,
                                         parent, size)
                ->Iterations(kBlocksPerRun)
                ->Repetitions(kRepetitions)
                ->ReportAggregatesOnly(true)
                ->UseManualTime();
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary(fileSystems);
    benchmark::Shutdown();
    return 0;
}
