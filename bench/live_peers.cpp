#include "live_peers.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "capture/capture_buffer.h"
#include "capture_run.h"
#include "traffic_generator.h"

namespace mirrowen::bench {

namespace {

using namespace std::chrono_literals;
using testing::kCallLimit;
using testing::VethNamespace;
namespace fs = std::filesystem;

constexpr auto kSendLimit = 10s;
constexpr auto kDrainLimit = 60s;
// How long the output of tcpdump or dumpcap must stay unchanged before their capture is taken as
// done: longer than a frame can wait in their capture buffer (tcpdump's read timeout is 1 s).
constexpr auto kProcessQuietTime = 1500ms;
constexpr std::size_t kMiB = std::size_t{1} << 20;
// The peers capture as much of a frame as the library does.
const std::string kSnapshotLength = std::to_string(MIRROWEN_SNAPSHOT_LENGTH);
// libpcap's buffer where none is asked for: tcpdump's and dumpcap's as they ship.
constexpr int kCaptureLibraryDefaultMiB = 2;
constexpr std::size_t kPcapFileHeader = 24;
constexpr std::size_t kPcapRecordHeader = 16;

double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::uint64_t NumberBefore(const std::string& text, const std::string& words) {
    const std::size_t at = text.find(words);
    if (at == std::string::npos) throw std::runtime_error("no report of " + words);
    std::size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return std::stoull(text.substr(begin, at - begin));
}

// Starts a capture program from this thread (so inside the benchmark's namespace), its output
// and errors going to `messages`.
pid_t StartProgram(const std::vector<std::string>& arguments, const fs::path& messages) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("cannot start " + arguments.front());
    if (child == 0) {
        const int file = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, STDERR_FILENO);
        dup2(file, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// CPU time a running child has used so far (in clock ticks, 10 ms here).
double ProcessCpuSeconds(pid_t program) {
    std::ifstream stat("/proc/" + std::to_string(program) + "/stat");
    std::string text;
    std::getline(stat, text);
    // The fields after the command name, which is in brackets and may hold spaces.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long userTicks = 0, systemTicks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) userTicks = std::stoull(field);
        if (number == 15) systemTicks = std::stoull(field);
    }
    return static_cast<double>(userTicks + systemTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Interrupts the program as Ctrl-C would and waits for it (killing it after kCallLimit); returns
// the CPU time it used.
double InterruptAndReap(pid_t program) {
    kill(program, SIGINT);
    int status = 0;
    rusage usage{};
    const auto deadline = Clock::now() + kCallLimit;
    while (wait4(program, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() > deadline) kill(program, SIGKILL);
        std::this_thread::sleep_for(5ms);
    }
    return CpuSeconds(usage);
}

Outcome RunLibrary(const Case& test, const VethNamespace& network, MirrowenFunction function,
                   const fs::path& folder, std::uint64_t frames) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    const testing::FrameSender probeSender(VethNamespace::kSendEnd);
    const std::uint64_t deliveredBefore = DeliveredFrames(network);
    testing::CaptureRun capture(function, VethNamespace::CaptureAdapter(), folder.string());
    const std::uint64_t probesSent = WaitUntilCapturing(capture, probeSender);
    const double cpuAtStart = capture.CpuSecondsSoFar();
    const auto start = Clock::now();
    Outcome outcome;
    outcome.sent = generator.Send(test.size, 0, frames, test.rate, kSendLimit);
    const auto lastStored = WaitUntilQuiet([&] { return capture.FileCount(); });
    capture.Stop();
    Finish(capture);
    const std::uint64_t probesStored = LeadingProbeFiles(folder);
    outcome.stored = capture.FileCount() - probesStored;
    const std::uint64_t delivered = DeliveredFrames(network) - deliveredBefore - probesSent;
    outcome.ringDrops = delivered - std::min(delivered, outcome.stored);
    outcome.activeSeconds = Seconds(lastStored - start);
    outcome.cpuSeconds = capture.CpuSecondsAtReturn() - cpuAtStart;
    return outcome;
}

Outcome RunTcpdump(const Case& test, const fs::path& folder, std::uint64_t frames) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    const fs::path output = folder / "capture.pcap";
    const fs::path messages = folder / "tcpdump.txt";
    const pid_t tcpdump = StartProgram({"tcpdump", "-i", VethNamespace::kCaptureEnd, "-s",
                                        kSnapshotLength, "-Z", "root", "-w", output.string()},
                                       messages);
    const auto ready = Clock::now() + 10s;
    while (ReadText(messages).find("listening on") == std::string::npos && Clock::now() < ready) {
        std::this_thread::sleep_for(10ms);
    }
    const double cpuAtStart = ProcessCpuSeconds(tcpdump);
    const auto start = Clock::now();
    Outcome outcome;
    outcome.sent = generator.Send(test.size, 0, frames, test.rate, kSendLimit);
    const auto lastWritten = WaitUntilQuiet(
        [&] {
            std::error_code ignored;
            return static_cast<std::uint64_t>(fs::file_size(output, ignored));
        },
        kProcessQuietTime);
    outcome.cpuSeconds = InterruptAndReap(tcpdump) - cpuAtStart;
    const std::string report = ReadText(messages);
    outcome.stored = NumberBefore(report, " packets captured");
    outcome.ringDrops = NumberBefore(report, " packets dropped by kernel");
    outcome.activeSeconds = Seconds(lastWritten - start);
    return outcome;
}

// When an entry of the folder was last made (nanoseconds): it moves with every file created.
std::uint64_t FolderChangeTime(const fs::path& folder) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) return 0;
    return static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
}

// The test frames among dumpcap's files: each finished file holds one packet, the one it had open
// at the end none; probes are left out.
std::uint64_t DumpcapTestFrames(const fs::path& folder) {
    std::uint64_t frames = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".pcap") continue;
        const std::vector<unsigned char> file = testing::ReadWholeFile(entry.path());
        if (file.size() <= kPcapFileHeader + kPcapRecordHeader) continue;
        const std::vector<unsigned char> frame(
            file.begin() + static_cast<std::ptrdiff_t>(kPcapFileHeader + kPcapRecordHeader),
            file.end());
        if (!testing::IsProbeFrame(frame)) ++frames;
    }
    return frames;
}

// "Packets received/dropped on interface 'mwcap0': 5/0 (...)": the dropped count.
std::uint64_t DumpcapDrops(const std::string& report) {
    const std::size_t line = report.find("received/dropped on interface");
    const std::size_t slash = line == std::string::npos ? line : report.find("': ", line);
    const std::size_t drops = slash == std::string::npos ? slash : report.find('/', slash);
    if (drops == std::string::npos) throw std::runtime_error("dumpcap did not report its drops");
    return std::stoull(report.substr(drops + 1));
}

// dumpcap writing one pcap file per packet (-b packets:1), as it ships (its 2 MiB buffer) or
// with -B set to the library's buffer, and the library's snapshot length.
Outcome RunDumpcap(const Case& test, const fs::path& folder, const fs::path& messages,
                   std::uint64_t frames, bool largeBuffer) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    const testing::FrameSender probeSender(VethNamespace::kSendEnd);
    std::vector<std::string> arguments = {
        "dumpcap",   "-i", VethNamespace::kCaptureEnd,      "-s", kSnapshotLength, "-P", "-q", "-b",
        "packets:1", "-w", (folder / "frame.pcap").string()};
    if (largeBuffer) arguments.insert(arguments.end(), {"-B", std::to_string(LibraryBufferMiB())});
    const pid_t dumpcap = StartProgram(arguments, messages);
    // It has stored a probe once it has moved on to a second file. Its first message comes
    // before it opens the adapter, so only a stored frame shows that it is capturing.
    const auto fileCount = [&] {
        const fs::directory_iterator entries(folder);
        return static_cast<std::uint64_t>(std::distance(begin(entries), end(entries)));
    };
    for (std::uint32_t probe = 0; fileCount() < 2; ++probe) {
        int status = 0;
        if (waitpid(dumpcap, &status, WNOHANG) != 0) {
            throw std::runtime_error("dumpcap ended: " + ReadText(messages));
        }
        if (probe == 100) {
            InterruptAndReap(dumpcap);
            throw std::runtime_error("dumpcap stored no probe");
        }
        probeSender.Send(testing::MakeProbeFrame(probe));
        for (int poll = 0; poll < 20 && fileCount() < 2; ++poll) std::this_thread::sleep_for(10ms);
    }
    const double cpuAtStart = ProcessCpuSeconds(dumpcap);
    const auto start = Clock::now();
    Outcome outcome;
    outcome.sent = generator.Send(test.size, 0, frames, test.rate, kSendLimit);
    const auto lastStored =
        WaitUntilQuiet([&] { return FolderChangeTime(folder); }, kProcessQuietTime);
    outcome.cpuSeconds = InterruptAndReap(dumpcap) - cpuAtStart;
    outcome.stored = DumpcapTestFrames(folder);
    outcome.ringDrops = DumpcapDrops(ReadText(messages));
    outcome.activeSeconds = Seconds(lastStored - start);
    return outcome;
}

}  // namespace

pcap_t* OpenAsTheLibraryDoes(std::string& failure) {
    char errorText[PCAP_ERRBUF_SIZE] = "";
    pcap_t* capture = pcap_create(VethNamespace::kCaptureEnd, errorText);
    if (capture == nullptr) {
        failure = errorText;
        return nullptr;
    }
    pcap_set_snaplen(capture, MIRROWEN_SNAPSHOT_LENGTH);
    pcap_set_promisc(capture, 1);
    pcap_set_timeout(capture, 200);
    if (const std::size_t bytes = capture::CaptureBufferBytes(VethNamespace::kCaptureEnd);
        bytes != 0) {
        pcap_set_buffer_size(capture, static_cast<int>(bytes));
    }
    pcap_set_tstamp_precision(capture, PCAP_TSTAMP_PRECISION_NANO);
    if (pcap_activate(capture) < 0) {
        failure = pcap_geterr(capture);
        pcap_close(capture);
        return nullptr;
    }
    return capture;
}

namespace {

// The benchmark's own capture loop, opened as the library opens and reading as it reads, storing
// each frame with the same four calls (create, write, set the time, close) or not at all; the
// kernel's drop count comes from pcap_stats.
Outcome RunReference(const Case& test, const fs::path& folder, std::uint64_t frames, bool store) {
    TrafficGenerator generator(VethNamespace::kSendEnd);
    std::atomic<bool> opened{false};
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> stored{0};
    double cpuSeconds = 0;
    pcap_stat statistics{};
    std::string failure;
    // The reader opens and closes the capture itself, as the library's thread does; its CPU time
    // is counted from the end of the open.
    std::thread reader([&] {
        pcap_t* capture = OpenAsTheLibraryDoes(failure);
        if (capture == nullptr) {
            opened.store(true);
            return;
        }
        char errorText[PCAP_ERRBUF_SIZE] = "";
        pcap_setnonblock(capture, 1, errorText);
        const double cpuAtStart = ThreadCpuSeconds();
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
                poll(&ready, 1, 100);
                continue;
            }
            if (header->caplen <= MIRROWEN_LARGEST_SKIPPED_FRAME) continue;
            if (store) {
                char* end =
                    std::to_chars(name + prefix.size(), name + sizeof name - 8, stored.load() + 1)
                        .ptr;
                std::memcpy(end, MIRROWEN_PACKET_FILE_EXTENSION,
                            sizeof MIRROWEN_PACKET_FILE_EXTENSION);
                const int file =
                    open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
                if (file < 0) break;
                // tv_usec holds nanoseconds: the capture was asked for them.
                const timespec times[2] = {{.tv_sec = 0, .tv_nsec = UTIME_OMIT},
                                           {.tv_sec = header->ts.tv_sec,
                                            .tv_nsec = static_cast<long>(header->ts.tv_usec)}};
                const bool written = write(file, bytes, header->caplen) == header->caplen &&
                                     futimens(file, times) == 0;
                if (close(file) != 0 || !written) break;
            }
            stored.fetch_add(1);
        }
        pcap_stats(capture, &statistics);
        pcap_close(capture);
        cpuSeconds = ThreadCpuSeconds() - cpuAtStart;
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

}  // namespace

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return CpuSeconds(usage);
}

Clock::time_point WaitUntilQuiet(const std::function<std::uint64_t()>& counter,
                                 Clock::duration quiet) {
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

std::uint64_t LeadingProbeFiles(const fs::path& folder) {
    std::uint64_t probes = 0;
    while (probes < 200) {
        const fs::path file = testing::PacketFile(folder, static_cast<std::int64_t>(probes + 1));
        if (!fs::exists(file) || !testing::IsProbeFrame(testing::ReadWholeFile(file))) break;
        ++probes;
    }
    return probes;
}

std::size_t LibraryBufferMiB() {
    const std::size_t bytes = capture::CaptureBufferBytes(VethNamespace::kCaptureEnd);
    return bytes == 0 ? kCaptureLibraryDefaultMiB : bytes / kMiB;
}

std::uint64_t WaitUntilCapturing(testing::CaptureRun& capture, const testing::FrameSender& sender) {
    const testing::Probes probes = capture.WaitUntilCapturing(sender);
    if (probes.stored == 0) throw std::runtime_error("the capture did not start");
    return probes.sent;
}

void Finish(testing::CaptureRun& capture) {
    if (capture.WaitForResult(kCallLimit) != ResultFinished) {
        throw std::runtime_error("the capture failed");
    }
}

Folders::Folders() : disk_(DiskParent()) {}

fs::path Folders::Fresh(const std::string& fileSystem) {
    if (fileSystem == "tmpfs") {
        currentTmpfsFolder_.reset();
        currentTmpfsFolder_ = std::make_unique<testing::TemporaryFolder>(tmpfs_.path());
        return currentTmpfsFolder_->path();
    }
    if (fileSystem == "disk") {
        const fs::path folder = disk_.path() / std::to_string(++diskFolders_);
        fs::create_directory(folder);
        return folder;
    }
    throw std::invalid_argument("unknown file system " + fileSystem);
}

std::string Folders::Describe(const std::string& fileSystem) const {
    return fileSystem + " (" +
           FileSystemType(fileSystem == "tmpfs" ? tmpfs_.path() : disk_.path()) + ")";
}

double LossPercent(const Outcome& outcome) {
    return outcome.sent == 0
               ? 0
               : 100.0 *
                     static_cast<double>(outcome.sent - std::min(outcome.sent, outcome.stored)) /
                     static_cast<double>(outcome.sent);
}

bool LossFree(const Outcome& outcome) { return outcome.stored >= outcome.sent; }

std::string PeerLabel(const std::string& peer) {
    const std::string library = std::to_string(LibraryBufferMiB());
    const std::string shipped = std::to_string(kCaptureLibraryDefaultMiB);
    if (peer == "tcpdump") return "tcpdump (" + shipped + " MiB)";
    if (peer == "dumpcap") return "dumpcap (" + shipped + " MiB)";
    if (peer == "dumpcap-large") return "dumpcap -B " + library;
    return peer + " (" + library + " MiB)";
}

Outcome RunCase(const Case& test, Folders& folders, const VethNamespace& network,
                MirrowenFunction function, double seconds) {
    const fs::path folder = folders.Fresh(test.fileSystem);
    const std::uint64_t frames = test.FrameCount(seconds);
    if (test.peer == "library") return RunLibrary(test, network, function, folder, frames);
    if (test.peer == "tcpdump") return RunTcpdump(test, folder, frames);
    if (test.peer == "dumpcap" || test.peer == "dumpcap-large") {
        return RunDumpcap(test, folder, folders.ScratchFile("messages.txt"), frames,
                          test.peer == "dumpcap-large");
    }
    if (test.peer == "reference-read") return RunReference(test, folder, frames, false);
    if (test.peer == "reference-store") return RunReference(test, folder, frames, true);
    throw std::invalid_argument("unknown peer " + test.peer);
}

}  // namespace mirrowen::bench
