// The library capturing live traffic on a veth pair inside a network namespace of the
// benchmark's own, against tcpdump and against reference loops of the benchmark's own that read
// the kernel's drop count with pcap_stats. Subcommands:
//   sweep     frames sent/stored, loss, stored frames/s and CPU per frame size, rate and peer
//   step      raises the offered rate until the library loses frames
//   stop      latency of 20 stops on an idle adapter
//   syscalls  one capture on the main thread, for strace -c (which then sees only that thread)
#include <fcntl.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture_run.h"
#include "frames.h"
#include "mirrowen.h"
#include "network_namespace.h"
#include "scratch_folders.h"
#include "traffic_generator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using mirrowen::bench::TrafficGenerator;
using mirrowen::testing::VethNamespace;
namespace fs = std::filesystem;

constexpr auto kSendLimit = 10s;
// Longer than any time a frame can wait in a capture buffer before it is handed to the reader
// (the library's read timeout is 200 ms, tcpdump's 1 s).
constexpr auto kQuietTime = 500ms;
constexpr auto kTcpdumpQuietTime = 1500ms;
constexpr auto kDrainLimit = 60s;
constexpr auto kCallLimit = 10s;
constexpr std::uint64_t kFullSpeedFrames = 200000;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Waits until `counter` has not changed for kQuietTime (within kDrainLimit); returns when it
// last changed.
Clock::time_point WaitUntilQuiet(const std::function<std::uint64_t()>& counter,
                                 Clock::duration quiet = kQuietTime) {
    const auto deadline = Clock::now() + kDrainLimit;
    std::uint64_t last = counter();
    auto lastChange = Clock::now();
    while (Clock::now() < deadline && Clock::now() - lastChange < quiet) {
        std::this_thread::sleep_for(10ms);
        const std::uint64_t now = counter();
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    return lastChange;
}

// Frames the kernel handed to the capture end (interface statistics of the namespace).
std::uint64_t DeliveredFrames(const VethNamespace& network) {
    const std::string command = "ip netns exec " + network.name() + " cat /sys/class/net/" +
                                VethNamespace::kCaptureEnd + "/statistics/rx_packets";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) throw std::runtime_error("cannot run " + command);
    unsigned long long frames = 0;
    const int matched = std::fscanf(output, "%llu", &frames);
    pclose(output);
    if (matched != 1) throw std::runtime_error("cannot read the capture end's statistics");
    return frames;
}

// One call of the module on a thread of its own, which records when the call returned and the
// CPU time that the thread used.
class LibraryCapture {
  public:
    LibraryCapture(MirrowenFunction function, std::string folder)
        : adapter_(VethNamespace::CaptureAdapter()), folder_(std::move(folder)) {
        thread_ = std::thread([this, function] {
            result_ = function(adapter_.c_str(), nullptr, folder_.data(), &stopFlag_, &fileCount_);
            returned_ = Clock::now();
            cpuSeconds_ = ThreadCpuSeconds();
            finished_.store(true);
        });
    }
    ~LibraryCapture() {
        Stop();
        if (thread_.joinable()) thread_.join();
    }
    LibraryCapture(const LibraryCapture&) = delete;
    LibraryCapture& operator=(const LibraryCapture&) = delete;

    Clock::time_point Stop() {
        const auto now = Clock::now();
        std::atomic_ref<std::int32_t>(stopFlag_).store(1);
        return now;
    }
    std::uint64_t FileCount() {
        return static_cast<std::uint64_t>(
            std::max(0, std::atomic_ref<std::int32_t>(fileCount_).load()));
    }
    // Sends probes until one is stored; returns how many were sent.
    std::uint64_t WaitUntilCapturing(const mirrowen::testing::FrameSender& sender) {
        std::uint64_t probes = 0;
        while (probes < 100 && !finished_.load()) {
            sender.Send(mirrowen::testing::MakeProbeFrame(static_cast<std::uint32_t>(probes++)));
            for (int poll = 0; poll < 20; ++poll) {
                if (FileCount() > 0) return probes;
                std::this_thread::sleep_for(10ms);
            }
        }
        throw std::runtime_error("the capture did not start");
    }
    // Waits within kCallLimit for the call to return; then its result.
    std::int32_t Join() {
        const auto deadline = Clock::now() + kCallLimit;
        while (!finished_.load() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        if (!finished_.load()) throw std::runtime_error("the capture did not return");
        thread_.join();
        return result_;
    }
    Clock::time_point returned() const { return returned_; }
    double cpuSeconds() const { return cpuSeconds_; }

  private:
    std::string adapter_;
    std::string folder_;
    std::int32_t stopFlag_ = 0;
    std::int32_t fileCount_ = 0;
    std::int32_t result_ = 0;
    std::atomic<bool> finished_{false};
    Clock::time_point returned_{};
    double cpuSeconds_ = 0;
    std::thread thread_;
};

// Leading probe files among 1.hda, 2.hda, ...
std::uint64_t LeadingProbeFiles(const fs::path& folder) {
    std::uint64_t probes = 0;
    while (probes < 200) {
        const fs::path file = folder / (std::to_string(probes + 1) + ".hda");
        if (!fs::exists(file) ||
            !mirrowen::testing::IsProbeFrame(mirrowen::testing::ReadWholeFile(file)))
            break;
        ++probes;
    }
    return probes;
}

struct Outcome {
    std::uint64_t sent = 0;
    std::uint64_t stored = 0;
    std::optional<std::uint64_t> ringDrops;  // frames the kernel dropped before the reader got them
    double activeSeconds = 0;                // from the first send to the last frame stored
    double cpuSeconds = 0;
};

struct Case {
    std::size_t size = 0;
    double rate = 0;  // 0: full speed
    std::string peer;
    std::string fileSystem;

    std::uint64_t FrameCount(double seconds) const {
        return rate > 0 ? static_cast<std::uint64_t>(rate * seconds) : kFullSpeedFrames;
    }
};

Outcome RunLibrary(const Case& test, const VethNamespace& network, MirrowenFunction function,
                   const fs::path& folder, std::uint64_t frames) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    const mirrowen::testing::FrameSender probeSender(VethNamespace::kSendEnd);
    const std::uint64_t deliveredBefore = DeliveredFrames(network);
    LibraryCapture capture(function, folder.string());
    const std::uint64_t probesSent = capture.WaitUntilCapturing(probeSender);
    const auto start = Clock::now();
    Outcome outcome;
    outcome.sent = generator.Send(test.size, 0, frames, test.rate, kSendLimit);
    const auto lastStored = WaitUntilQuiet([&] { return capture.FileCount(); });
    capture.Stop();
    if (capture.Join() != ResultFinished) throw std::runtime_error("the capture failed");
    const std::uint64_t probesStored = LeadingProbeFiles(folder);
    outcome.stored = capture.FileCount() - probesStored;
    const std::uint64_t delivered = DeliveredFrames(network) - deliveredBefore - probesSent;
    outcome.ringDrops = delivered - std::min(delivered, outcome.stored);
    outcome.activeSeconds = Seconds(lastStored - start);
    outcome.cpuSeconds = capture.cpuSeconds();
    return outcome;
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::uint64_t NumberBefore(const std::string& text, const std::string& words) {
    const std::size_t at = text.find(words);
    if (at == std::string::npos) throw std::runtime_error("tcpdump did not report " + words);
    std::size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return std::stoull(text.substr(begin, at - begin));
}

Outcome RunTcpdump(const Case& test, const fs::path& folder, std::uint64_t frames) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    const fs::path output = folder / "capture.pcap";
    const fs::path messages = folder / "tcpdump.txt";
    // Started from this thread, tcpdump runs inside the benchmark's namespace.
    const pid_t tcpdump = fork();
    if (tcpdump < 0) throw std::runtime_error("cannot start tcpdump");
    if (tcpdump == 0) {
        const int file = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, STDERR_FILENO);
        dup2(file, STDOUT_FILENO);
        execlp("tcpdump", "tcpdump", "-i", VethNamespace::kCaptureEnd, "-s", "65536", "-Z", "root",
               "-w", output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto ready = Clock::now() + 10s;
    while (ReadText(messages).find("listening on") == std::string::npos && Clock::now() < ready) {
        std::this_thread::sleep_for(10ms);
    }
    const auto start = Clock::now();
    Outcome outcome;
    outcome.sent = generator.Send(test.size, 0, frames, test.rate, kSendLimit);
    const auto lastWritten = WaitUntilQuiet(
        [&] {
            std::error_code ignored;
            return static_cast<std::uint64_t>(fs::file_size(output, ignored));
        },
        kTcpdumpQuietTime);
    kill(tcpdump, SIGINT);
    int status = 0;
    rusage usage{};
    const auto deadline = Clock::now() + kCallLimit;
    while (wait4(tcpdump, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() > deadline) kill(tcpdump, SIGKILL);
        std::this_thread::sleep_for(5ms);
    }
    const std::string report = ReadText(messages);
    outcome.stored = NumberBefore(report, " packets captured");
    outcome.ringDrops = NumberBefore(report, " packets dropped by kernel");
    outcome.activeSeconds = Seconds(lastWritten - start);
    outcome.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return outcome;
}

// The benchmark's own capture loop, with the library's parameters and read method, storing each
// frame with the same three calls (or not at all); the kernel's drop count comes from pcap_stats.
Outcome RunReference(const Case& test, const fs::path& folder, std::uint64_t frames, bool store) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    std::atomic<bool> opened{false};
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> stored{0};
    double cpuSeconds = 0;
    pcap_stat statistics{};
    std::string failure;
    // The reader opens and closes the capture itself, so that its CPU time covers what the
    // library's thread does.
    std::thread reader([&] {
        char errorText[PCAP_ERRBUF_SIZE] = "";
        pcap_t* capture = pcap_open_live(VethNamespace::kCaptureEnd, 65536, 1, 200, errorText);
        if (capture == nullptr) {
            failure = errorText;
            opened.store(true);
            return;
        }
        pcap_setnonblock(capture, 1, errorText);
        opened.store(true);
        const std::string prefix = folder.string() + "/";
        char name[4096];
        std::memcpy(name, prefix.data(), prefix.size());
        pollfd ready{.fd = pcap_get_selectable_fd(capture), .events = POLLIN, .revents = 0};
        while (!stop.load()) {
            pcap_pkthdr* header = nullptr;
            const u_char* bytes = nullptr;
            const int result = pcap_next_ex(capture, &header, &bytes);
            if (result < 0) break;
            if (result == 0) {
                poll(&ready, 1, 200);
                continue;
            }
            if (header->caplen <= 60) continue;
            if (store) {
                char* end =
                    std::to_chars(name + prefix.size(), name + sizeof name - 8, stored.load() + 1)
                        .ptr;
                std::memcpy(end, ".hda", 5);
                const int file = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
                if (file < 0) break;
                const bool written = write(file, bytes, header->caplen) == header->caplen;
                if (close(file) != 0 || !written) break;
            }
            stored.fetch_add(1);
        }
        pcap_stats(capture, &statistics);
        pcap_close(capture);
        cpuSeconds = ThreadCpuSeconds();
    });
    const auto openLimit = Clock::now() + kCallLimit;
    while (!opened.load() && Clock::now() < openLimit) std::this_thread::sleep_for(1ms);
    if (!opened.load() || !failure.empty()) {
        stop.store(true);
        reader.join();
        throw std::runtime_error("reference capture: " + failure);
    }
    const auto start = Clock::now();
    Outcome outcome;
    outcome.sent = generator.Send(test.size, 0, frames, test.rate, kSendLimit);
    const auto lastStored = WaitUntilQuiet([&] { return stored.load(); });
    stop.store(true);
    reader.join();
    outcome.stored = stored.load();
    outcome.ringDrops = statistics.ps_drop;
    outcome.activeSeconds = Seconds(lastStored - start);
    outcome.cpuSeconds = cpuSeconds;
    return outcome;
}

struct Options {
    std::vector<std::size_t> sizes{64, 512, 1514};
    std::vector<double> rates{10000, 50000, 0};
    std::vector<std::string> fileSystems{"tmpfs", "disk"};
    std::vector<std::string> peers{"library", "tcpdump", "reference-read", "reference-store"};
    int repetitions = 3;
    double seconds = 2;
    double startRate = 2000;
    double factor = 1.25;
    std::uint64_t frames = 1000;
    double rate = 2000;
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
        else
            throw std::invalid_argument("unknown option " + key);
    }
    return options;
}

// The scratch folders of one process: a tmpfs of its own and a directory on disk.
//
// A tmpfs folder goes when the next one is made (it holds memory), a disk folder only with the
// process: ext4 without a journal skips inodes freed in the last minute or more when it
// allocates, at a cost per skipped inode, so removing one run's files would slow the next runs
// by far more than anything measured here.
class Folders {
  public:
    Folders() : disk_(mirrowen::bench::DiskParent()) {}
    // A fresh, empty folder on the named file system.
    fs::path Fresh(const std::string& fileSystem) {
        if (fileSystem == "tmpfs") {
            currentTmpfsFolder_.reset();
            currentTmpfsFolder_ =
                std::make_unique<mirrowen::bench::ScratchDirectory>(tmpfs_.path());
            return currentTmpfsFolder_->path();
        }
        if (fileSystem == "disk") {
            const fs::path folder = disk_.path() / std::to_string(++diskFolders_);
            fs::create_directory(folder);
            return folder;
        }
        throw std::invalid_argument("unknown file system " + fileSystem);
    }
    std::string Describe(const std::string& fileSystem) const {
        return fileSystem + " (" +
               mirrowen::bench::FileSystemType(fileSystem == "tmpfs" ? tmpfs_.path()
                                                                     : disk_.path()) +
               ")";
    }

  private:
    mirrowen::bench::ScratchTmpfs tmpfs_;
    mirrowen::bench::ScratchDirectory disk_;
    std::unique_ptr<mirrowen::bench::ScratchDirectory> currentTmpfsFolder_;
    int diskFolders_ = 0;
};

Outcome RunCase(const Case& test, Folders& folders, const VethNamespace& network,
                MirrowenFunction function, double seconds) {
    const fs::path folder = folders.Fresh(test.fileSystem);
    const std::uint64_t frames = test.FrameCount(seconds);
    if (test.peer == "library") return RunLibrary(test, network, function, folder, frames);
    if (test.peer == "tcpdump") return RunTcpdump(test, folder, frames);
    if (test.peer == "reference-read") return RunReference(test, folder, frames, false);
    if (test.peer == "reference-store") return RunReference(test, folder, frames, true);
    throw std::invalid_argument("unknown peer " + test.peer);
}

double LossPercent(const Outcome& outcome) {
    return outcome.sent == 0
               ? 0
               : 100.0 *
                     static_cast<double>(outcome.sent - std::min(outcome.sent, outcome.stored)) /
                     static_cast<double>(outcome.sent);
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

const char* kTableHeader =
    "| file system | frame bytes | offered/s | peer | sent | stored | loss % | ring drops | "
    "stored frames/s | CPU s / 1000 frames |\n|---|---:|---:|---|---:|---:|---:|---:|---:|---:|\n";

// One table line from the medians of each column over the repetitions.
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
    std::printf("| %s | %zu | %s | %s | %.0f | %.0f | %.2f | %.0f | %.0f | %.4f |\n",
                fileSystem.c_str(), test.size, RateText(test.rate).c_str(), test.peer.c_str(),
                Median(sent), Median(stored), Median(loss), Median(drops), Median(rate),
                Median(cpu));
}

void Sweep(const Options& options, MirrowenFunction function) {
    Folders folders;
    const VethNamespace network;
    std::vector<Case> cases;
    for (const auto& fileSystem : options.fileSystems)
        for (const std::size_t size : options.sizes)
            for (const double rate : options.rates)
                for (const auto& peer : options.peers)
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
                static_cast<unsigned long long>(kFullSpeedFrames), kTableHeader);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        PrintMedianRow(folders.Describe(cases[i].fileSystem), cases[i], outcomes[i]);
    }
}

void Step(const Options& options, MirrowenFunction function) {
    Folders folders;
    const VethNamespace network;
    std::printf("%s", kTableHeader);
    double highestLossFree = 0;
    double rate = options.startRate;
    for (int step = 0; step < 40; ++step, rate *= options.factor) {
        bool lossFree = true;
        for (const auto& fileSystem : options.fileSystems) {
            for (const std::size_t size : options.sizes) {
                const Case test{size, rate, "library", fileSystem};
                std::vector<Outcome> outcomes;
                for (int repetition = 0; repetition < options.repetitions; ++repetition) {
                    outcomes.push_back(RunCase(test, folders, network, function, options.seconds));
                    PrintRun(test, outcomes.back());
                    lossFree = lossFree && outcomes.back().stored >= outcomes.back().sent;
                }
                PrintMedianRow(folders.Describe(fileSystem), test, outcomes);
            }
        }
        if (!lossFree) break;
        highestLossFree = rate;
    }
    std::printf("\nHighest offered rate without loss in every run: %.0f frames/s\n",
                highestLossFree);
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
        LibraryCapture capture(function, folder.string());
        capture.WaitUntilCapturing(probeSender);
        // The stops land at every point of the read's wait, not only just after a frame.
        std::this_thread::sleep_for(std::chrono::milliseconds(idleMs(random)));
        const auto requested = capture.Stop();
        if (capture.Join() != ResultFinished) throw std::runtime_error("the capture failed");
        latenciesMs.push_back(Seconds(capture.returned() - requested) * 1000);
        std::fprintf(stderr, "stop %d: %.1f ms\n", stop + 1, latenciesMs.back());
    }
    std::printf("| stops | p50 ms | max ms | <= 250 ms |\n|---:|---:|---:|---|\n");
    const double maximum = *std::max_element(latenciesMs.begin(), latenciesMs.end());
    std::printf("| %zu | %.1f | %.1f | %s |\n", latenciesMs.size(), Median(latenciesMs), maximum,
                maximum <= 250 ? "yes" : "no");
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
        TrafficGenerator generator(VethNamespace::kSendEnd);
        for (std::uint32_t probe = 0; probe < 100 && count.load() == 0; ++probe) {
            probeSender.Send(mirrowen::testing::MakeProbeFrame(probe));
            std::this_thread::sleep_for(200ms);
        }
        sent = generator.Send(64, 0, options.frames, options.rate, kSendLimit * 6);
        WaitUntilQuiet([&] { return static_cast<std::uint64_t>(count.load()); });
        stop.store(1);
    });
    // The host's protocol resets the flag at the start; the thread above only ever sets it.
    const std::int32_t result = function(VethNamespace::CaptureAdapter().c_str(), nullptr,
                                         folderPath.data(), &stopFlag, &fileCount);
    traffic.join();
    std::printf("result %d sent %llu stored %d (with %llu probes)\n", result,
                static_cast<unsigned long long>(sent), fileCount,
                static_cast<unsigned long long>(LeadingProbeFiles(folder)));
    // Removing the files costs a call or two per file; on another thread it stays out of the count.
    std::thread([&] { folders.reset(); }).join();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc < 2)
            throw std::invalid_argument(
                "usage: mirrowen_live_bench sweep|step|stop|syscalls [--option=value...]");
        const std::string command = argv[1];
        const Options options = ParseOptions(argc, argv);
        const mirrowen::testing::LoadedModule module(MIRROWEN_MODULE_PATH);
        if (command == "sweep")
            Sweep(options, module.function());
        else if (command == "step")
            Step(options, module.function());
        else if (command == "stop")
            StopLatency(module.function());
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
