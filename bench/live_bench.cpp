// The library capturing live traffic on a veth pair inside a network namespace of the
// benchmark's own, against tcpdump, dumpcap writing one file per packet, and reference loops of
// the benchmark's own (live_peers.h). Subcommands:
//   sweep     frames sent/stored, loss, stored frames/s and CPU per frame size, rate and peer
//   step      raises the offered rate until each peer loses frames, the peers taking turns
//   burst     bursts (full speed, or a rate for some seconds) for several sizes of the library's
//             capture buffer
//   ring      time to open and close, and memory taken, for several capture buffer sizes
//   stop      latency of 20 stops on an idle adapter
//   spacing   frames sent 50 ms apart, as stored and as exported
//   syscalls  one capture on the main thread, for strace -c (which then sees only that thread)
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture_run.h"
#include "frame_spacing.h"
#include "live_peers.h"
#include "ring_bench.h"
#include "traffic_generator.h"

namespace {

using namespace std::chrono_literals;
using mirrowen::bench::Case;
using mirrowen::bench::Folders;
using mirrowen::bench::LossFree;
using mirrowen::bench::LossPercent;
using mirrowen::bench::Outcome;
using mirrowen::testing::VethNamespace;
namespace fs = std::filesystem;

struct Options {
    std::vector<std::size_t> sizes{64, 512, 1514};
    std::vector<double> rates;  // empty: the command's own choice (0: full speed)
    std::vector<std::string> fileSystems{"tmpfs", "disk"};
    std::vector<std::string> peers;  // empty: the command's own choice
    int repetitions = 3;
    double seconds = 2;
    double startRate = 2000;
    double factor = 1.25;
    std::uint64_t frames = 1000;
    double rate = 2000;
    std::vector<std::size_t> buffers{64, 128, 256, 512};  // MiB
};

template <typename T>
std::vector<T> ParseList(const std::string& text) {
    std::vector<T> values;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (item == "full") {
            values.push_back(T{});
        } else if constexpr (std::is_same_v<T, std::string>) {
            values.push_back(item);
        } else {
            values.push_back(static_cast<T>(std::stod(item)));
        }
    }
    return values;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::size_t equals = argument.find('=');
        if (!argument.starts_with("--") || equals == std::string::npos) {
            throw std::invalid_argument("unknown argument " + argument);
        }
        const std::string key = argument.substr(2, equals - 2);
        const std::string value = argument.substr(equals + 1);
        if (key == "sizes")
            options.sizes = ParseList<std::size_t>(value);
        else if (key == "rates")
            options.rates = ParseList<double>(value);
        else if (key == "fs")
            options.fileSystems = ParseList<std::string>(value);
        else if (key == "peers")
            options.peers = ParseList<std::string>(value);
        else if (key == "repetitions")
            options.repetitions = std::stoi(value);
        else if (key == "seconds")
            options.seconds = std::stod(value);
        else if (key == "start-rate")
            options.startRate = std::stod(value);
        else if (key == "factor")
            options.factor = std::stod(value);
        else if (key == "frames")
            options.frames = std::stoull(value);
        else if (key == "rate")
            options.rate = std::stod(value);
        else if (key == "buffers")
            options.buffers = ParseList<std::size_t>(value);
        else
            throw std::invalid_argument("unknown option " + key);
    }
    return options;
}

std::vector<std::string> PeersOr(const Options& options, std::vector<std::string> chosen) {
    return options.peers.empty() ? chosen : options.peers;
}

std::vector<double> RatesOr(const Options& options, std::vector<double> chosen) {
    return options.rates.empty() ? chosen : options.rates;
}

std::string RateText(double rate) {
    return rate > 0 ? std::to_string(static_cast<long long>(rate)) : std::string("full");
}

void PrintRun(const Case& test, const Outcome& outcome) {
    std::fprintf(stderr,
                 "run %s %zu B %s/s %s: sent %llu stored %llu loss %.2f%% ring drops %lld "
                 "%.0f stored/s cpu %.3f s\n",
                 test.fileSystem.c_str(), test.size, RateText(test.rate).c_str(), test.peer.c_str(),
                 static_cast<unsigned long long>(outcome.sent),
                 static_cast<unsigned long long>(outcome.stored), LossPercent(outcome),
                 outcome.ringDrops ? static_cast<long long>(*outcome.ringDrops) : -1LL,
                 static_cast<double>(outcome.stored) / outcome.activeSeconds, outcome.cpuSeconds);
}

const char* kTableHeader =
    "| file system | frame bytes | offered/s | peer | sent | stored | loss % | runs without "
    "loss | most lost % | ring drops | stored frames/s | CPU s / 1000 frames |\n"
    "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";

// One table line: the medians of each column over the repetitions, how many runs lost nothing
// and the largest loss of any.
void PrintMedianRow(const std::string& fileSystem, const Case& test,
                    const std::vector<Outcome>& outcomes) {
    std::vector<double> sent, stored, loss, drops, rate, cpu;
    for (const Outcome& outcome : outcomes) {
        sent.push_back(static_cast<double>(outcome.sent));
        stored.push_back(static_cast<double>(outcome.stored));
        loss.push_back(LossPercent(outcome));
        drops.push_back(outcome.ringDrops ? static_cast<double>(*outcome.ringDrops) : -1);
        rate.push_back(static_cast<double>(outcome.stored) / outcome.activeSeconds);
        cpu.push_back(outcome.stored == 0
                          ? 0
                          : outcome.cpuSeconds * 1000 / static_cast<double>(outcome.stored));
    }
    const auto lossFree = std::count_if(outcomes.begin(), outcomes.end(), LossFree);
    using mirrowen::bench::Median;
    std::printf(
        "| %s | %zu | %s | %s | %.0f | %.0f | %.2f | %ld/%zu | %.2f | %.0f | %.0f | %.4f |\n",
        fileSystem.c_str(), test.size, RateText(test.rate).c_str(),
        mirrowen::bench::PeerLabel(test.peer).c_str(), Median(sent), Median(stored), Median(loss),
        static_cast<long>(lossFree), outcomes.size(), *std::max_element(loss.begin(), loss.end()),
        Median(drops), Median(rate), Median(cpu));
}

void Sweep(const Options& options, MirrowenFunction function) {
    Folders folders;
    const VethNamespace network;
    std::vector<Case> cases;
    for (const auto& fileSystem : options.fileSystems)
        for (const std::size_t size : options.sizes)
            for (const double rate : RatesOr(options, {10000, 50000, 0}))
                for (const auto& peer :
                     PeersOr(options, {"library", "tcpdump", "dumpcap", "dumpcap-large",
                                       "reference-read", "reference-store"}))
                    cases.push_back({size, rate, peer, fileSystem});
    std::vector<std::vector<Outcome>> outcomes(cases.size());
    // Repetitions on the outside, so that a busy spell of the machine spreads over all cases.
    for (int repetition = 0; repetition < options.repetitions; ++repetition) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            outcomes[i].push_back(RunCase(cases[i], folders, network, function, options.seconds));
            PrintRun(cases[i], outcomes[i].back());
        }
    }
    std::printf("\nMedians of %d runs of %.1f s (full speed: %llu frames) each:\n\n%s",
                options.repetitions, options.seconds,
                static_cast<unsigned long long>(mirrowen::bench::kFullSpeedFrames), kTableHeader);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        PrintMedianRow(folders.Describe(cases[i].fileSystem), cases[i], outcomes[i]);
    }
}

// For each file system and frame size: raises the offered rate by `factor` each step; within a
// step the peers take turns, run after run (the first of them changing with each repetition),
// so that a busy spell of the machine, or a slow spell of the file system, falls on all of them.
// A peer that loses frames in any run of a step leaves the following steps.
void Step(const Options& options, MirrowenFunction function) {
    Folders folders;
    const VethNamespace network;
    const std::vector<std::string> peers =
        PeersOr(options, {"library", "dumpcap", "dumpcap-large", "reference-store"});
    for (const auto& fileSystem : options.fileSystems) {
        for (const std::size_t size : options.sizes) {
            std::vector<std::string> active = peers;
            std::map<std::string, double> highest;
            std::map<std::string, std::string> firstLoss;
            std::printf("\n%s, %zu-byte frames, %.1f s per run:\n\n%s",
                        folders.Describe(fileSystem).c_str(), size, options.seconds, kTableHeader);
            double rate = options.startRate;
            for (int step = 0; step < 40 && !active.empty(); ++step, rate *= options.factor) {
                std::map<std::string, std::vector<Outcome>> outcomes;
                for (int repetition = 0; repetition < options.repetitions; ++repetition) {
                    for (std::size_t turn = 0; turn < active.size(); ++turn) {
                        const Case test{
                            size, rate,
                            active[(turn + static_cast<std::size_t>(repetition)) % active.size()],
                            fileSystem};
                        outcomes[test.peer].push_back(
                            RunCase(test, folders, network, function, options.seconds));
                        PrintRun(test, outcomes[test.peer].back());
                    }
                }
                std::vector<std::string> stillLossFree;
                for (const auto& peer : active) {
                    const std::vector<Outcome>& runs = outcomes[peer];
                    PrintMedianRow(folders.Describe(fileSystem), {size, rate, peer, fileSystem},
                                   runs);
                    if (std::all_of(runs.begin(), runs.end(), LossFree)) {
                        highest[peer] = rate;
                        stillLossFree.push_back(peer);
                        continue;
                    }
                    double most = 0;
                    for (const Outcome& run : runs) most = std::max(most, LossPercent(run));
                    const auto lossy = std::count_if(runs.begin(), runs.end(),
                                                     [](const Outcome& o) { return !LossFree(o); });
                    char text[96];
                    std::snprintf(text, sizeof text, "%s/s: %ld of %zu runs lost, at most %.2f %%",
                                  RateText(rate).c_str(), static_cast<long>(lossy), runs.size(),
                                  most);
                    firstLoss[peer] = text;
                }
                active = stillLossFree;
            }
            std::printf(
                "\n| peer | highest offered/s without loss in every run | first step with loss "
                "|\n|---|---:|---|\n");
            for (const auto& peer : peers) {
                const auto found = highest.find(peer);
                std::printf("| %s | %s | %s |\n", mirrowen::bench::PeerLabel(peer).c_str(),
                            found == highest.end() ? "below the first step"
                                                   : RateText(found->second).c_str(),
                            firstLoss.contains(peer) ? firstLoss[peer].c_str() : "none");
            }
        }
    }
}

void StopLatency(MirrowenFunction function) {
    Folders folders;
    const VethNamespace network;
    const mirrowen::testing::FrameSender probeSender(VethNamespace::kSendEnd);
    std::mt19937 random(5);
    std::uniform_int_distribution<int> idleMs(0, 400);
    std::vector<double> latenciesMs;
    for (int stop = 0; stop < 20; ++stop) {
        const auto folder = folders.Fresh("tmpfs");
        mirrowen::testing::CaptureRun capture(function, VethNamespace::CaptureAdapter(),
                                              folder.string());
        mirrowen::bench::WaitUntilCapturing(capture, probeSender);
        // The stops land at every point of the read's wait, not only just after a frame.
        std::this_thread::sleep_for(std::chrono::milliseconds(idleMs(random)));
        const auto requested = capture.Stop();
        mirrowen::bench::Finish(capture);
        latenciesMs.push_back(mirrowen::bench::Seconds(capture.ReturnedAt() - requested) * 1000);
        std::fprintf(stderr, "stop %d: %.1f ms\n", stop + 1, latenciesMs.back());
    }
    std::printf("Capture buffer %zu MiB\n\n", mirrowen::bench::LibraryBufferMiB());
    std::printf("| stops | p50 ms | max ms | <= 250 ms |\n|---:|---:|---:|---|\n");
    const double maximum = *std::max_element(latenciesMs.begin(), latenciesMs.end());
    std::printf("| %zu | %.1f | %.1f | %s |\n", latenciesMs.size(),
                mirrowen::bench::Median(latenciesMs), maximum, maximum <= 250 ? "yes" : "no");
}

// The capture runs on the main thread; a second thread starts it with probes, sends the frames
// and stops it once nothing more arrives.
void SyscallRun(const Options& options, MirrowenFunction function) {
    auto folders = std::make_unique<Folders>();
    const VethNamespace network;
    const fs::path folder = folders->Fresh("tmpfs");
    std::string folderPath = folder.string();
    std::int32_t stopFlag = 0, fileCount = 0;
    std::uint64_t sent = 0;
    std::thread traffic([&] {
        std::atomic_ref<std::int32_t> stop(stopFlag), count(fileCount);
        const mirrowen::testing::FrameSender probeSender(VethNamespace::kSendEnd);
        mirrowen::bench::TrafficGenerator generator(VethNamespace::kSendEnd);
        for (std::uint32_t probe = 0; probe < 100 && count.load() == 0; ++probe) {
            probeSender.Send(mirrowen::testing::MakeProbeFrame(probe));
            std::this_thread::sleep_for(200ms);
        }
        sent = generator.Send(64, 0, options.frames, options.rate, 60s);
        mirrowen::bench::WaitUntilQuiet([&] { return static_cast<std::uint64_t>(count.load()); });
        stop.store(1);
    });
    // The host's protocol resets the flag at the start; the thread above only ever sets it.
    const std::int32_t result = function(VethNamespace::CaptureAdapter().c_str(), nullptr,
                                         folderPath.data(), &stopFlag, &fileCount);
    traffic.join();
    std::printf("result %d sent %llu stored %d (with %llu probes)\n", result,
                static_cast<unsigned long long>(sent), fileCount,
                static_cast<unsigned long long>(mirrowen::bench::LeadingProbeFiles(folder)));
    // Removing the files costs a call or two per file; on another thread it stays out of the count.
    std::thread([&] { folders.reset(); }).join();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc < 2)
            throw std::invalid_argument(
                "usage: mirrowen_live_bench sweep|step|burst|ring|stop|spacing|syscalls "
                "[--option=value...]");
        const std::string command = argv[1];
        const Options options = ParseOptions(argc, argv);
        const mirrowen::testing::LoadedModule module(MIRROWEN_MODULE_PATH);
        if (command == "sweep")
            Sweep(options, module.function());
        else if (command == "step")
            Step(options, module.function());
        else if (command == "burst")
            mirrowen::bench::Burst(module.function(), options.buffers, RatesOr(options, {0}),
                                   options.seconds, options.repetitions);
        else if (command == "ring")
            mirrowen::bench::RingCost(module.function(), options.buffers, options.repetitions);
        else if (command == "stop")
            StopLatency(module.function());
        else if (command == "spacing")
            mirrowen::bench::FrameSpacing(module.function(), MIRROWEN_TOOL_PATH);
        else if (command == "syscalls")
            SyscallRun(options, module.function());
        else
            throw std::invalid_argument("unknown command " + command);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "mirrowen_live_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
