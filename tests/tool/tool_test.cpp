// The mirrowen tool, run as a user runs it: as a separate process, judged by its exit status, its
// output and the files it leaves. Traffic goes over a veth pair in a network namespace of the
// test's own, or, sent by the demo itself, to 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture_run.h"
#include "child_process.h"
#include "exit_status.h"
#include "frames.h"
#include "network_namespace.h"
#include "process_state.h"
#include "tshark.h"

namespace mirrowen::tooltest {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

using testing::AdapterName;
using testing::PacketFile;
using testing::PacketFileName;
using tool::kExitCaptureBase;
using tool::kExitFramesSkipped;

Finished Tool(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout = 60s) {
    return Run(MIRROWEN_TOOL, arguments, timeout);
}

void WritePacketFile(const fs::path& path, const Bytes& bytes, timespec modified) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const timespec times[2] = {modified, modified};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The file count of the capture summary, or -1 without one.
int SummaryCount(const std::string& output) {
    std::smatch match;
    static const std::regex kSummary(R"(Captured (\d+) packet files?)");
    return std::regex_search(output, match, kSummary) ? std::stoi(match[1]) : -1;
}

// The capture wrote exactly the files 1..count, each a frame of more than 60 bytes.
void ExpectPacketFiles(const fs::path& folder, int count) {
    for (int number = 1; number <= count; ++number) {
        ASSERT_TRUE(fs::exists(PacketFile(folder, number))) << number;
        EXPECT_GT(fs::file_size(PacketFile(folder, number)), 60u) << number;
    }
    EXPECT_FALSE(fs::exists(PacketFile(folder, count + 1)));
}

// The probes the tool's capture into `folder` stored once it was capturing (testing's
// WaitUntilCapturing); 0 if it stored none.
int WaitUntilCapturing(ChildProcess& capture, const testing::FrameSender& sender,
                       const fs::path& folder) {
    const testing::Probes probes = testing::WaitUntilCapturing(
        sender, [&capture] { return capture.Running(); },
        [&folder] { return static_cast<std::int64_t>(testing::PacketFileNumbers(folder).size()); });
    return static_cast<int>(probes.stored);
}

// Why a test cannot run on this machine, or empty when it can: a capture needs root and network
// namespaces, reading a pcap back needs tshark, and --show's lines are tcpdump's.
enum Needs { kCapture = 1, kTshark = 2, kTcpdump = 4 };
std::string Unable(int needs) {
    if (needs & kCapture) {
        if (std::string why = testing::WhyLiveCapturesCannotRun(); !why.empty()) return why;
    }
    if (needs & kTshark) {
        if (std::string why = WhyTsharkCannotRun(); !why.empty()) return why;
    }
    if ((needs & kTcpdump) && Run("tcpdump", {"--version"}).status != 0) return "needs tcpdump";
    return {};
}

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "mirrowen-tool-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
    }
    void TearDown() override { fs::remove_all(scratch_); }

    fs::path scratch_;
};

TEST_F(ToolTest, ListShowsTheLoopbackAdapter) {
    const Finished list = Tool({"list"});
    ASSERT_TRUE(list.exited);
    EXPECT_EQ(list.status, 0) << list.errors;
    EXPECT_TRUE(std::regex_search(list.output, std::regex(R"((^|\n)rpcap://lo +[^\n]*loopback)")))
        << list.output;
}

// The adapters libpcap reports here, in its order, as the capture takes their names.
std::vector<std::string> AdaptersLibpcapReports() {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    EXPECT_EQ(pcap_findalldevs(&devices, errorText), 0) << errorText;
    std::vector<std::string> names;
    for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
        names.push_back(AdapterName(device->name));
    }
    pcap_freealldevs(devices);
    return names;
}

// In a namespace of the test's own, every adapter libpcap reports is listed, the last one included,
// and marked by what it carries: the veth end Ethernet, a tun device and "any" not. -D lists the
// same.
TEST_F(ToolTest, ListShowsEveryAdapterAndWhetherItCarriesEthernet) {
    if (const std::string why = Unable(kCapture); !why.empty()) GTEST_SKIP() << why;
    const testing::VethNamespace network;
    network.AddTunDevice();
    const Finished list = Tool({"list"});
    ASSERT_EQ(list.status, 0) << list.errors;
    std::vector<std::string> listed;
    std::map<std::string, std::string> links;
    std::istringstream lines(list.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string source;
        words >> source >> std::ws;
        listed.push_back(source);
        std::getline(words, links[source]);
    }
    EXPECT_EQ(listed, AdaptersLibpcapReports()) << list.output;
    EXPECT_TRUE(links[testing::VethNamespace::CaptureAdapter()].starts_with("Ethernet "))
        << list.output;
    EXPECT_TRUE(
        links[AdapterName(testing::VethNamespace::kTunDevice)].starts_with("not Ethernet (Raw IP)"))
        << list.output;
    EXPECT_TRUE(links[AdapterName("any")].starts_with("not Ethernet")) << list.output;
    EXPECT_EQ(Tool({"-D"}).output, list.output);

    // What cannot be opened is not known to be anything: without the right to capture (with a
    // line saying so), or while it is down.
    const std::vector<std::string> withoutCaptureRights = {
        "--inh-caps=-all", "--bounding-set=-net_raw,-net_admin", MIRROWEN_TOOL, "list"};
    const Finished forbidden = tooltest::Run("setpriv", withoutCaptureRights);
    network.BringCaptureEndDown();
    const Finished down = Tool({"list"});
    for (const Finished* unopened : {&forbidden, &down}) {
        ASSERT_EQ(unopened->status, 0) << unopened->errors;
        EXPECT_TRUE(std::regex_search(
            unopened->output,
            std::regex("(^|\n)" + testing::VethNamespace::CaptureAdapter() + " +unknown ")))
            << unopened->output;
    }
    EXPECT_NE(forbidden.errors.find("shows only when it can be opened"), std::string::npos)
        << forbidden.errors;
}

// On a veth pair of the test's own nothing but the test's frames arrive. Twice as many frames as
// the count come in one burst, so the module stores past the count before the tool can stop it:
// exactly the first N files must be left. With -w -, standard output carries those N frames as a
// pcap stream, byte for byte the export of the folder, and the summary goes to stderr. The tool,
// started from this thread, runs inside the namespace.
TEST_F(ToolTest, CaptureLeavesExactlyTheRequestedCountAndExportsWhatItWrote) {
    if (const std::string why = Unable(kCapture | kTshark); !why.empty()) GTEST_SKIP() << why;
    constexpr int kCount = 20;
    const testing::VethNamespace network;
    const testing::FrameSender sender(testing::VethNamespace::kSendEnd);
    const fs::path folder = scratch_ / "captures";
    ChildProcess capture(MIRROWEN_TOOL,
                         {"capture", "-i", testing::VethNamespace::CaptureAdapter(), "-o",
                          folder.string(), "--count", std::to_string(kCount), "-w", "-"});

    const int probes = WaitUntilCapturing(capture, sender, folder);
    ASSERT_GT(probes, 0) << "the capture never stored a frame";
    ASSERT_LT(probes, kCount);

    std::vector<Bytes> sent;
    for (int index = 0; index < 2 * kCount; ++index) {
        sent.push_back(testing::MakeTestFrame(100 + index, static_cast<std::uint32_t>(index)));
        sender.Send(sent.back());
    }
    sent.resize(static_cast<std::size_t>(kCount - probes));
    ASSERT_TRUE(capture.WaitForExit(30s)) << "the capture did not stop by itself";
    ASSERT_EQ(capture.Status(), 0) << capture.Errors();
    EXPECT_NE(capture.Errors().find("stopped at the requested file count"), std::string::npos)
        << capture.Errors();
    EXPECT_EQ(SummaryCount(capture.Errors()), kCount) << capture.Errors();
    ExpectPacketFiles(folder, kCount);
    EXPECT_EQ(testing::StoredTestFrames(folder), sent);

    EXPECT_EQ(capture.Output(), Tool({"export", folder.string(), "-"}).output);

    const fs::path pcap = scratch_ / "capture.pcap";
    const Finished exported = Tool({"export", folder.string(), pcap.string()});
    ASSERT_EQ(exported.status, 0) << exported.errors;
    const std::vector<std::string> frames = TsharkFrames(pcap);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kCount));
    for (int number = 1; number <= kCount; ++number) {
        EXPECT_EQ(frames[number - 1], Hex(testing::ReadWholeFile(PacketFile(folder, number))))
            << number;
    }
}

// -c ends the capture as soon as the N-th file is stored, although no frame comes after it; with
// --replace the earlier capture's files, more than N of them, are gone before it starts, and -q
// leaves out the start and the progress lines.
TEST_F(ToolTest, CountEndsTheCaptureAtTheNthFileWithoutAnotherFrame) {
    if (const std::string why = Unable(kCapture); !why.empty()) GTEST_SKIP() << why;
    constexpr int kCount = 8;
    const fs::path folder = scratch_ / "captures";
    fs::create_directory(folder);
    for (int number = 1; number <= 3 * kCount; ++number) {
        testing::WriteWholeFile(PacketFile(folder, number), testing::PatternBytes(100));
    }
    const testing::VethNamespace network;
    const testing::FrameSender sender(testing::VethNamespace::kSendEnd);
    ChildProcess capture(MIRROWEN_TOOL,
                         {"capture", "-i", testing::VethNamespace::CaptureAdapter(), "-o",
                          folder.string(), "-c", std::to_string(kCount), "--replace", "-q"});
    // The earlier files go in the order of their numbers, before the capture starts.
    for (int wait = 0; wait < 500 && fs::exists(PacketFile(folder, 3 * kCount)); ++wait) {
        std::this_thread::sleep_for(10ms);
    }
    const int probes = WaitUntilCapturing(capture, sender, folder);
    ASSERT_GT(probes, 0) << "the capture never stored a frame";
    ASSERT_LT(probes, kCount);
    for (int index = 0; probes + index < kCount; ++index) {
        sender.Send(testing::MakeTestFrame(100, static_cast<std::uint32_t>(index)));
    }
    ASSERT_TRUE(capture.WaitForExit(30s)) << "the capture did not stop at the N-th file";
    EXPECT_EQ(capture.Status(), 0) << capture.Errors();
    EXPECT_NE(capture.Output().find("stopped at the requested file count"), std::string::npos)
        << capture.Output();
    ExpectPacketFiles(folder, kCount);
    EXPECT_EQ(capture.Errors(), "");
}

// --show prints a line per stored frame that its filter matches, in order: tcpdump's line for the
// frame, numbered with its packet file's number, which is tcpdump's own number for it in the
// export of the whole folder; every frame is stored. IPv4/UDP and IPv6/TCP frames with made-up
// addresses go only over the test's own veth pair, between the test's probes and 0x88B5 frames,
// which the filter leaves out.
TEST_F(ToolTest, ShowPrintsTcpdumpsLinePerStoredFrameItsFilterMatchesNumberedByFile) {
    if (const std::string why = Unable(kCapture | kTcpdump); !why.empty()) GTEST_SKIP() << why;
    constexpr int kCount = 12;
    const testing::Bytes destinationMac = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x0b};
    const testing::Bytes sourceMac = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x0a};
    const testing::Bytes hostA = {192, 0, 2, 1};
    const testing::Bytes hostB = {198, 51, 100, 2};
    const testing::Bytes host6A = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const testing::Bytes host6B = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    const testing::VethNamespace network;
    const testing::FrameSender sender(testing::VethNamespace::kSendEnd);
    const fs::path folder = scratch_ / "captures";
    ChildProcess capture(MIRROWEN_TOOL, {"capture", "--show", "--filter", "ip or ip6", "-i",
                                         testing::VethNamespace::CaptureAdapter(), "-o",
                                         folder.string(), "--count", std::to_string(kCount)});

    const int probes = WaitUntilCapturing(capture, sender, folder);
    ASSERT_GT(probes, 0) << "the capture never stored a frame";
    ASSERT_LT(probes, kCount);
    for (int index = 0; probes + index < kCount; ++index) {
        const auto port = static_cast<std::uint16_t>(40000 + index);
        if (index % 3 == 0) {
            sender.Send(testing::EthernetFrame(
                destinationMac, sourceMac, 0x0800,
                testing::Ipv4Packet(17, hostA, hostB,
                                    testing::UdpDatagram(port, 9999, Bytes(100 + index)))));
        } else if (index % 3 == 1) {
            sender.Send(testing::EthernetFrame(
                destinationMac, sourceMac, 0x86dd,
                testing::Ipv6Packet(6, host6A, host6B,
                                    testing::TcpSegment(port, 443, 0x02, Bytes(index)))));
        } else {
            sender.Send(testing::MakeTestFrame(100 + index, static_cast<std::uint32_t>(index)));
        }
    }
    // Frames past the count, most likely stored before the stop: removed, and never shown.
    for (std::uint32_t extra = 0; extra < 10; ++extra) {
        sender.Send(testing::MakeTestFrame(200, 1000 + extra));
    }
    ASSERT_TRUE(capture.WaitForExit(30s)) << "the capture did not stop by itself";
    ASSERT_EQ(capture.Status(), 0) << capture.Errors();
    // tcpdump's lines of frames, as -# numbers them: "   17  12:00:00.123456 ...".
    const auto frameLines = [](const std::string& text) {
        static const std::regex kNumbered(R"(^ *\d+  )");
        std::vector<std::string> lines;
        std::istringstream input(text);
        for (std::string line; std::getline(input, line);) {
            if (std::regex_search(line, kNumbered)) lines.push_back(line);
        }
        return lines;
    };
    const std::vector<std::string> shown = frameLines(capture.Output());

    const fs::path pcap = scratch_ / "capture.pcap";
    ASSERT_EQ(Tool({"export", folder.string(), pcap.string()}).status, 0);
    const Finished tcpdump = tooltest::Run("tcpdump", {"-n", "-e", "-#", "-r", pcap.string()});
    ASSERT_EQ(tcpdump.status, 0) << tcpdump.errors;
    const std::vector<std::string> all = frameLines(tcpdump.output);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kCount)) << tcpdump.output;
    std::vector<std::string> expected;
    std::copy_if(all.begin(), all.end(), std::back_inserter(expected), [](const std::string& line) {
        return line.find("ethertype IPv4 (0x0800)") != std::string::npos ||
               line.find("ethertype IPv6 (0x86dd)") != std::string::npos;
    });
    ASSERT_FALSE(expected.empty());
    ASSERT_LT(expected.size(), all.size());
    EXPECT_EQ(shown, expected) << capture.Output();
}

// Each stop ends the capture with status 0, a summary of the files kept and the progress line;
// so does the reader of -w - going away (head, once it has the stream's first frame), its summary
// on stderr, as the stream has stdout.
TEST_F(ToolTest, StopSignalsEndTheCaptureWithASummary) {
    if (const std::string why = Unable(kCapture); !why.empty()) GTEST_SKIP() << why;
    const testing::VethNamespace network;
    const testing::FrameSender sender(testing::VethNamespace::kSendEnd);
    constexpr int kReaderGoesAway = 0;
    const std::map<int, std::string> stopTexts = {
        {SIGINT, "stopped by Ctrl-C (SIGINT)"},
        {SIGTERM, "stopped by SIGTERM"},
        {SIGHUP, "stopped by SIGHUP"},
        {kReaderGoesAway, "stopped because standard output was closed"}};
    for (const auto& [stopSignal, stopText] : stopTexts) {
        SCOPED_TRACE(stopText);
        const fs::path folder = scratch_ / ("captures-" + std::to_string(stopSignal));
        const std::vector<std::string> arguments = {
            "capture", "-i", testing::VethNamespace::CaptureAdapter(), "-o", folder.string()};
        std::string pipeline = MIRROWEN_TOOL;
        for (const std::string& argument : arguments) pipeline += " " + argument;
        ChildProcess capture =
            stopSignal == kReaderGoesAway
                ? ChildProcess(
                      "bash", {"-o", "pipefail", "-c", pipeline + " -w - | head -c 100 >/dev/null"})
                : ChildProcess(MIRROWEN_TOOL, arguments);
        int stored = WaitUntilCapturing(capture, sender, folder);
        ASSERT_GT(stored, 0) << "the capture never stored a frame";
        if (stopSignal == kReaderGoesAway) {
            for (std::uint32_t sequence = 0; sequence < 200 && capture.Running(); ++sequence) {
                sender.Send(testing::MakeTestFrame(100, sequence));
                std::this_thread::sleep_for(20ms);
            }
        } else {
            ASSERT_TRUE(capture.Running()) << "the capture ended before it was stopped";
            capture.Signal(stopSignal);
        }
        ASSERT_TRUE(capture.WaitForExit(30s)) << "the capture did not stop";
        EXPECT_EQ(capture.Status(), 0) << capture.Errors();
        const std::string& summary =
            stopSignal == kReaderGoesAway ? capture.Errors() : capture.Output();
        EXPECT_NE(summary.find(stopText), std::string::npos) << summary;
        if (stopSignal == kReaderGoesAway) stored = SummaryCount(summary);
        EXPECT_EQ(SummaryCount(summary), stored) << summary;
        ExpectPacketFiles(folder, stored);
        EXPECT_NE(capture.Errors().find(std::to_string(stored) +
                                        (stored == 1 ? " file written" : " files written")),
                  std::string::npos)
            << capture.Errors();
    }
    // A second Ctrl-C, before the first has stopped the capture, ends the program at once, with
    // the status the help gives for it.
    ChildProcess capture(MIRROWEN_TOOL, {"capture", "-i", testing::VethNamespace::CaptureAdapter(),
                                         "-o", (scratch_ / "twice").string()});
    ASSERT_GT(WaitUntilCapturing(capture, sender, scratch_ / "twice"), 0);
    capture.Signal(SIGINT);
    ASSERT_TRUE(capture.WaitUntilTaken(SIGINT));  // else the two would be one
    capture.Signal(SIGINT);
    ASSERT_TRUE(capture.WaitForExit(30s)) << "the capture did not end";
    EXPECT_EQ(capture.Status(), tool::kExitSecondStopRequest) << capture.Errors();
    EXPECT_EQ(SummaryCount(capture.Output()), -1) << capture.Output();
}

// The start line names the adapter, the folder, the ring and why it has that size, and what is
// never stored: -B, the operator's variable, or the adapter's link speed (a veth pair reports 10
// Gb/s, more than the largest default; loopback none).
TEST_F(ToolTest, DurationEndsAnIdleCaptureThatNamedItsRingAtTheStart) {
    if (const std::string why = Unable(kCapture); !why.empty()) GTEST_SKIP() << why;
    const std::string variable = MIRROWEN_CAPTURE_BUFFER_VARIABLE;
    const std::string veth = testing::VethNamespace::CaptureAdapter();
    const struct {
        std::vector<std::string> environment;  // for env(1)
        std::vector<std::string> options;
        std::string adapter;
        std::string ring;
    } cases[] = {
        {{}, {"-B", "64"}, "rpcap://lo", "64 MiB capture ring (-B)"},
        {{variable + "=16"}, {}, "rpcap://lo", "16 MiB capture ring (" + variable + ")"},
        {{"-u", variable},
         {},
         "rpcap://lo",
         "64 MiB capture ring (the adapter reports no link speed)"},
        {{"-u", variable},
         {},
         veth,
         "384 MiB capture ring (the largest by default; one second at the adapter's 10000 Mb/s "
         "takes more)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ring);
        std::optional<testing::VethNamespace> network;
        if (c.adapter == veth) {
            if (testing::InstalledMemoryBytes() / 16 < (std::uint64_t{384} << 20)) continue;
            network.emplace();
        }
        const fs::path folder = scratch_ / "out";
        fs::remove_all(folder);
        std::vector<std::string> command = c.environment;
        command.insert(command.end(), {MIRROWEN_TOOL, "capture", "-i", c.adapter, "-o",
                                       folder.string(), "--duration", "1s"});
        command.insert(command.end(), c.options.begin(), c.options.end());
        const Finished capture = tooltest::Run("env", command, 60s);
        ASSERT_TRUE(capture.exited);
        EXPECT_EQ(capture.status, 0) << capture.errors;
        EXPECT_NE(capture.output.find("stopped after the requested duration"), std::string::npos)
            << capture.output;
        // A set-up line may come first, on a busy machine.
        EXPECT_NE(capture.errors.find("Capturing on " + c.adapter + " into " + folder.string() +
                                      " with a " + c.ring +
                                      "; frames of 60 bytes or fewer are not stored.\n"),
                  std::string::npos)
            << capture.errors;
    }
}

// Each bad path, name or number gets one line that names it, and status 2; values that pass are
// shown by a folder refused only after them (status 12). Nothing here needs root.
TEST_F(ToolTest, BadCommandLinesGetOneLineEach) {
    const std::string file = (scratch_ / "afile").string();
    testing::WriteWholeFile(file, {1});
    const std::string orphan = (scratch_ / "no-parent" / "captures").string();
    const std::string unstarted = (scratch_ / "never-started").string();
    const std::string unwrittenPcap = (scratch_ / "never-written.pcap").string();
    const fs::path oneFrame = scratch_ / "one-frame";
    fs::create_directory(oneFrame);
    testing::WriteWholeFile(PacketFile(oneFrame, 1), testing::PatternBytes(100));
    const std::string unreachablePcap = (scratch_ / "no-such-folder" / "x.pcap").string();
    // Earlier captures that --replace cannot take away whole: one with a folder at a packet
    // file's name, one so near the path limit that no other file's name fits; neither loses a file.
    const fs::path withFolder = scratch_ / "with-a-folder";
    fs::create_directories(withFolder / PacketFileName(3));
    fs::path nearLimit = scratch_;
    while (nearLimit.string().size() < 4080 - 201) nearLimit /= std::string(200, 'n');
    nearLimit /= std::string(4080 - nearLimit.string().size() - 1, 'n');
    fs::create_directories(nearLimit);
    for (const fs::path& folder : {withFolder, nearLimit}) {
        for (int number = 1; number <= 2; ++number) {
            testing::WriteWholeFile(PacketFile(folder, number), testing::PatternBytes(100));
        }
    }
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string message;
        std::vector<std::string> environment = {};  // set for the tool by env(1)
    };
    const int refused = kExitCaptureBase + ResultRefused;
    const std::vector<Case> cases = {
        {{"capture", "-o", ""}, tool::kExitUsage, "--output: the folder path is empty"},
        {{"capture", "-w", "x.pcap", "-o", unstarted},
         tool::kExitUsage,
         "-w: takes only - (standard output)"},
        {{"capture", "--show", "-w", "-", "-o", unstarted},
         tool::kExitUsage,
         "--show and -w - both write to standard output"},
        // Nothing to print the lines with: refused at once, saying what to install instead.
        {{"capture", "--show", "-o", unstarted},
         tool::kExitFailure,
         "neither is installed: install tcpdump (apt-get install tcpdump) or tshark; or stream "
         "them "
         "to a reader of your own with -w -",
         {"PATH=" + (scratch_ / "no-programs").string()}},
        {{"demo", "-o", ""}, tool::kExitUsage, "--output: the folder path is empty"},
        {{"capture", "-i", ""}, tool::kExitUsage, "--adapter: the adapter name is empty"},
        {{"capture", "-i", "rpcap://"}, tool::kExitUsage, "rpcap:// names no adapter"},
        {{"capture", "--library", ""}, tool::kExitUsage, "--library: the module path is empty"},
        {{"capture", "-c", "0"},
         tool::kExitUsage,
         "--count: '0' is not a whole number from 1 to 2147483647"},
        {{"capture", "-c"}, tool::kExitUsage, "--count needs a value"},
        {{"capture", "--duration", "1x"}, tool::kExitUsage, "'1x' is not a duration"},
        {{"capture", "--duration", "0s"}, tool::kExitUsage, "'0s' is not a duration"},
        // A unit alone, which CLI11's unit parsing would take for one of it.
        {{"capture", "--duration", "h"}, tool::kExitUsage, "'h' is not a duration"},
        // Past the longest duration only when an hour is 3600 s.
        {{"capture", "-o", file, "--duration", "2778h"},
         tool::kExitUsage,
         "'2778h' is not a duration"},
        {{"capture", "-B", "2048"},
         tool::kExitUsage,
         "--buffer-size: '2048' is not a whole number from 1 to 2047"},
        {{"capture", "-B", "abc"}, tool::kExitUsage, "--buffer-size: 'abc' is not a whole number"},
        {{"capture", "--no-such-option"}, tool::kExitUsage, "--no-such-option"},
        {{"export", "", "x.pcap"}, tool::kExitUsage, "FOLDER: the folder path is empty"},
        {{"export", scratch_.string(), ""}, tool::kExitUsage, "OUTPUT: the output file name"},
        {{"-D", "capture"}, tool::kExitUsage, "-D: it lists the adapters"},
        {{}, tool::kExitUsage, "a command (list, capture, export or demo) or -D is required"},
        {{"capture", "-o", "/", "-c", "5", "--duration", "5m", "-B", "2047", "-q"},
         refused,
         "the output folder / cannot be used: it is the root folder"},
        {{"capture", "-o", "//"}, refused, "the output folder // cannot be used: it is the root"},
        {{"capture", "-o", withFolder.string(), "--replace"},
         refused,
         PacketFile(withFolder, 3).string() + " is a folder, not a packet file"},
        {{"capture", "-o", nearLimit.string(), "--replace"},
         refused,
         "no file can be written in it: File name too long"},
        {{"capture", "-o", file, "--duration", "1.5h"}, refused, "it is a file, not a folder"},
        {{"capture", "-o", orphan, "--duration", "30"},
         refused,
         "its parent folder " + (scratch_ / "no-parent").string() + " does not exist"},
        {{"capture", "--library", (scratch_ / "none.so").string()},
         tool::kExitModuleMissing,
         "cannot load"},
        {{"export", (scratch_ / "missing").string(), (scratch_ / "x.pcap").string()},
         tool::kExitFailure,
         (scratch_ / "missing").string() + " does not exist\n"},
        {{"export", file, (scratch_ / "x.pcap").string()},
         tool::kExitFailure,
         file + " is not a folder\n"},
        // The system's reason for an output that cannot be created or written.
        {{"export", oneFrame.string(), unreachablePcap},
         tool::kExitFailure,
         "cannot create " + unreachablePcap + ": No such file or directory\n"},
        {{"export", oneFrame.string(), "/dev/full"},
         tool::kExitFailure,
         "cannot write /dev/full: No space left on device\n"},
        // A filter is refused with libpcap's reason before anything starts.
        {{"capture", "--show", "--filter", "udp and", "-o", unstarted},
         tool::kExitUsage,
         "cannot use the filter 'udp and': can't parse filter expression: syntax error"},
        {{"export", "--filter", "ip broadcast", scratch_.string(), unwrittenPcap},
         tool::kExitUsage,
         "cannot use the filter 'ip broadcast': netmask not known"},
        {{"capture", "--filter", "udp", "-o", unstarted},
         tool::kExitUsage,
         "--filter needs --show"},
    };
    for (const Case& bad : cases) {
        std::string line;
        for (const std::string& argument : bad.arguments) line += " '" + argument + "'";
        SCOPED_TRACE(line);
        std::vector<std::string> arguments = bad.environment;
        arguments.push_back(MIRROWEN_TOOL);
        arguments.insert(arguments.end(), bad.arguments.begin(), bad.arguments.end());
        const Finished run = tooltest::Run("env", arguments);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.status, bad.status) << run.errors;
        EXPECT_TRUE(run.errors.starts_with("mirrowen: ")) << run.errors;
        EXPECT_NE(run.errors.find(bad.message), std::string::npos) << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_EQ(run.output, "");
    }
    EXPECT_FALSE(fs::exists(orphan));
    for (const fs::path& folder : {withFolder, nearLimit}) {
        EXPECT_EQ(testing::PacketFileNumbers(folder), (std::vector<int>{1, 2})) << folder;
    }
    EXPECT_FALSE(fs::exists(unstarted));
    EXPECT_FALSE(fs::exists(unwrittenPcap));
}

// Adapters and folders a capture cannot use, each refused with its cause and status: an adapter
// that is missing or down or that the user may not capture on (advice from libpcap's status), one
// that carries no Ethernet (a tun device, "any"), and, before the capture starts, a folder that
// another capture is writing into (its files left alone, --replace or not), one that holds an
// earlier capture (left as it is), one on a read-only or a full file system, and one the user may
// not write into.
TEST_F(ToolTest, AdaptersAndFoldersACaptureCannotUseAreRefusedWithTheirCause) {
    if (const std::string why = Unable(kCapture); !why.empty()) GTEST_SKIP() << why;
    const testing::VethNamespace network;
    network.AddTunDevice();
    const std::string veth = testing::VethNamespace::CaptureAdapter();
    const fs::path earlier = scratch_ / "earlier";
    fs::create_directory(earlier);
    for (int number = 1; number <= 2; ++number) {
        testing::WriteWholeFile(PacketFile(earlier, number), testing::PatternBytes(100));
    }
    const testing::TemporaryFileSystem readOnly(scratch_ / "read-only", 64 * 1024);
    readOnly.MakeReadOnly();
    const testing::TemporaryFileSystem full(scratch_ / "full", 64 * 1024);
    std::ofstream(scratch_ / "full" / "filler", std::ios::binary)
        << std::string(128 * 1024, 'x');  // as much of it as fits
    // A folder whose permissions forbid writing, for a tool without root's right to pass over them.
    const fs::path readOnlyFolder = scratch_ / "read-and-search-only";
    fs::create_directory(readOnlyFolder);
    fs::permissions(readOnlyFolder, fs::perms::owner_read | fs::perms::owner_exec |
                                        fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    // setpriv's arguments that take rights from the tool: those over files' permissions, or
    // those that capturing needs. It runs as root still, so everything else is as before.
    const std::vector<std::string> withoutFileRights = {
        "--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search,-fowner"};
    const std::vector<std::string> withoutCaptureRights = {"--inh-caps=-all",
                                                           "--bounding-set=-net_raw,-net_admin"};
    const testing::FrameSender sender(testing::VethNamespace::kSendEnd);
    const fs::path busy = scratch_ / "busy";
    ChildProcess running(MIRROWEN_TOOL, {"capture", "-i", veth, "-o", busy.string()});
    const int busyFiles = WaitUntilCapturing(running, sender, busy);
    ASSERT_GT(busyFiles, 0) << running.Errors();

    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> messages;
        std::vector<std::string> withoutRights = {};  // setpriv's arguments, when it runs the tool
    };
    const int refused = kExitCaptureBase + ResultRefused;
    const std::vector<Case> cases = {
        {{"capture", "-i", AdapterName("mirrowen-none0"), "-o", (scratch_ / "a").string()},
         kExitCaptureBase + ResultAdapterFailed,
         {"Mirrowen: mirrowen-none0", "cannot open the adapter rpcap://mirrowen-none0",
          "there is no adapter mirrowen-none0"}},
        {{"capture", "-i", testing::VethNamespace::kTunDevice, "-o", (scratch_ / "b").string()},
         kExitCaptureBase + ResultNotEthernet,
         {"rpcap://mwtun0 does not carry Ethernet"}},
        {{"capture", "-i", "any", "-o", (scratch_ / "c").string()},
         kExitCaptureBase + ResultNotEthernet,
         {"rpcap://any does not carry Ethernet"}},
        {{"capture", "-i", veth, "-o", busy.string(), "--replace"},
         refused,
         {"another capture is writing into " + busy.string()}},
        {{"capture", "-i", veth, "-o", earlier.string()},
         refused,
         {"already holds 2 packet files (1.hda to 2.hda) of an earlier capture", "--replace"}},
        {{"capture", "-i", veth, "-o", (scratch_ / "read-only").string()},
         refused,
         {"no file can be written in it: Read-only file system"}},
        {{"capture", "-i", veth, "-o", (scratch_ / "full").string()},
         refused,
         {"no file can be written in it: No space left on device (the file system is full)"}},
        {{"capture", "-i", veth, "-o", readOnlyFolder.string()},
         refused,
         {"no file can be written in it: Permission denied"},
         withoutFileRights},
        {{"capture", "-i", veth, "-o", (scratch_ / "e").string()},
         kExitCaptureBase + ResultAdapterFailed,
         {"cannot open the adapter " + veth, "capturing needs root, or the capabilities"},
         withoutCaptureRights},
    };
    for (const Case& failure : cases) {
        SCOPED_TRACE(failure.messages.front());
        std::string program = MIRROWEN_TOOL;
        std::vector<std::string> arguments = failure.arguments;
        if (!failure.withoutRights.empty()) {
            arguments.insert(arguments.begin(), program);
            arguments.insert(arguments.begin(), failure.withoutRights.begin(),
                             failure.withoutRights.end());
            program = "setpriv";
        }
        const Finished run = tooltest::Run(program, arguments);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.status, failure.status) << run.errors;
        for (const std::string& message : failure.messages) {
            EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        }
        // None of them started: nothing claims it did.
        EXPECT_EQ(run.errors.find("Capturing on"), std::string::npos) << run.errors;
    }
    // The folders the tool made for captures that never started are gone, and with them the file
    // it tried each with.
    for (const char* unstarted : {"a", "b", "c", "e"}) {
        EXPECT_FALSE(fs::exists(scratch_ / unstarted)) << unstarted;
    }
    EXPECT_EQ(testing::PacketFileNumbers(busy).size(), static_cast<std::size_t>(busyFiles));
    EXPECT_EQ(testing::PacketFileNumbers(earlier), (std::vector<int>{1, 2}));
    EXPECT_TRUE(fs::is_empty(readOnlyFolder));

    network.BringCaptureEndDown();
    const Finished down = Tool({"capture", "-i", veth, "-o", (scratch_ / "d").string()});
    EXPECT_EQ(down.status, kExitCaptureBase + ResultAdapterFailed) << down.errors;
    EXPECT_NE(down.errors.find("the adapter is down; bring it up (ip link set mwcap0 up)"),
              std::string::npos)
        << down.errors;
    EXPECT_FALSE(fs::exists(scratch_ / "d"));
}

// A packet file that cannot be written ends the capture with its status and the system's reason:
// a file system that fills up, one that runs out of inodes while it has room, and a symbolic link
// put at the next packet file's name while the capture runs.
TEST_F(ToolTest, APacketFileThatCannotBeWrittenIsToldWithTheSystemsReason) {
    if (const std::string why = Unable(kCapture); !why.empty()) GTEST_SKIP() << why;
    const testing::VethNamespace network;
    const testing::FrameSender sender(testing::VethNamespace::kSendEnd);
    const fs::path full = scratch_ / "full";
    const fs::path fewInodes = scratch_ / "few-inodes";
    const fs::path linked = scratch_ / "linked";
    const testing::TemporaryFileSystem small(full, 64 * 1024);
    const testing::TemporaryFileSystem sixteenFiles(fewInodes, 1 << 20, 16);
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {full, "No space left on device (the file system is full)"},
        {fewInodes, "No space left on device (no inodes left"},
        {linked, "Too many levels of symbolic links: a symbolic link stands at that name"},
    };
    for (const auto& [folder, reason] : cases) {
        SCOPED_TRACE(reason);
        ChildProcess capture(
            MIRROWEN_TOOL,
            {"capture", "-i", testing::VethNamespace::CaptureAdapter(), "-o", folder.string()});
        const int probes = WaitUntilCapturing(capture, sender, folder);
        ASSERT_GT(probes, 0) << "the capture never stored a frame";
        if (folder == linked) {
            fs::create_symlink(scratch_ / "elsewhere", PacketFile(folder, probes + 1));
        }
        for (std::uint32_t sequence = 0; sequence < 200 && capture.Running(); ++sequence) {
            sender.Send(testing::MakeTestFrame(1514, sequence));
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_TRUE(capture.WaitForExit(30s)) << "the capture did not end";
        EXPECT_EQ(capture.Status(), kExitCaptureBase + ResultFileFailed) << capture.Errors();
        EXPECT_NE(capture.Errors().find(reason), std::string::npos) << capture.Errors();
        // The line names the file that failed, the one after the last complete file.
        std::smatch named;
        ASSERT_TRUE(std::regex_search(
            capture.Errors(), named,
            std::regex(R"(cannot write packet file (\d+)\.hda in .* \((\d+) files were written)")))
            << capture.Errors();
        const int written = std::stoi(named[2]);
        EXPECT_EQ(std::stoi(named[1]), written + 1) << capture.Errors();
        ExpectPacketFiles(folder, written);
        if (folder == linked) {
            EXPECT_EQ(written, probes);
        }
    }
}

TEST_F(ToolTest, ExportWritesFramesThatTsharkReadsBackExactly) {
    if (const std::string why = Unable(kTshark); !why.empty()) GTEST_SKIP() << why;
    const fs::path folder = scratch_ / "packets";
    fs::create_directory(folder);
    const std::vector<std::size_t> sizes = {42, 342, 1514, 65536};
    std::vector<Bytes> frames;
    for (std::size_t index = 0; index < sizes.size(); ++index) {
        frames.push_back(testing::PatternBytes(sizes[index], static_cast<unsigned>(index)));
        const timespec modified{1700000000 + static_cast<time_t>(index), 123456789};
        WritePacketFile(PacketFile(folder, static_cast<int>(index + 1)), frames.back(), modified);
    }

    const fs::path pcap = scratch_ / "out.pcap";
    const Finished exported = Tool({"export", folder.string(), pcap.string()});
    ASSERT_EQ(exported.status, 0) << exported.errors;
    EXPECT_NE(exported.output.find("Exported 4 frames"), std::string::npos) << exported.output;

    const std::vector<std::string> read = TsharkFrames(pcap);
    ASSERT_EQ(read.size(), frames.size());
    for (std::size_t index = 0; index < frames.size(); ++index) {
        EXPECT_EQ(read[index], Hex(frames[index])) << "frame " << index + 1;
    }
    // The files' modification times, the frames' capture times, to the nanosecond.
    EXPECT_EQ(TsharkTimes(pcap),
              (std::vector<std::string>{"1700000000.123456789", "1700000001.123456789",
                                        "1700000002.123456789", "1700000003.123456789"}));
    // A reader that has read enough and closes the pipe ends the export as it ends tcpdump's
    // output: status 0, and nothing said. The frames are more than the pipe holds.
    const Finished piped = tooltest::Run(
        "bash",
        {"-o", "pipefail", "-c",
         std::string(MIRROWEN_TOOL) + " export " + folder.string() + " - | head -c 24 >/dev/null"});
    EXPECT_EQ(piped.status, 0) << piped.errors;
    EXPECT_EQ(piped.errors, "");
    // Each record's original and captured lengths are its file's: the frame was stored whole.
    const auto lengths = TsharkFields(pcap, {"frame.len", "frame.cap_len"});
    ASSERT_EQ(lengths.size(), sizes.size());
    for (std::size_t index = 0; index < sizes.size(); ++index) {
        EXPECT_EQ(lengths[index].at("frame.len"), std::to_string(sizes[index])) << index + 1;
        EXPECT_EQ(lengths[index].at("frame.cap_len"), std::to_string(sizes[index])) << index + 1;
    }
}

// A mixed capture, exported through libpcap filters: each export holds exactly the frames that
// tshark shows of the whole export with the display filter of the same meaning, in order. The
// frames are of the kinds on which capture filters and display filters agree (a VLAN tag, an IPv6
// extension header or an ICMP error quoting a UDP header would not: docs/tool.md says so).
TEST_F(ToolTest, AFilteredExportHoldsExactlyTheFramesTsharkShowsForTheFilter) {
    if (const std::string why = Unable(kTshark); !why.empty()) GTEST_SKIP() << why;
    const Bytes mac1 = {0x02, 0, 0, 0, 0, 0x01};
    const Bytes mac2 = {0x02, 0, 0, 0, 0, 0x02};
    const Bytes hostA = {192, 0, 2, 1};
    const Bytes hostB = {198, 51, 100, 2};
    const Bytes host6A = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const Bytes host6B = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    constexpr std::uint8_t kIcmp = 1, kTcp = 6, kUdp = 17, kSyn = 0x02;
    using testing::EthernetFrame, testing::Ipv4Packet, testing::Ipv6Packet, testing::TcpSegment,
        testing::UdpDatagram;
    Bytes arpRequest =
        testing::Concatenate({{0, 1, 8, 0, 6, 4, 0, 1}, mac1, hostA, Bytes(6), {192, 0, 2, 2}});
    arpRequest.resize(50);  // padded, as on the wire
    const std::vector<Bytes> frames = {
        EthernetFrame(mac2, mac1, 0x0800,
                      Ipv4Packet(kUdp, hostA, hostB, UdpDatagram(40000, 9999, Bytes(100, 1)))),
        EthernetFrame(mac2, mac1, 0x86dd,
                      Ipv6Packet(kTcp, host6A, host6B, TcpSegment(40001, 443, kSyn, {}))),
        testing::MakeTestFrame(100, 1),
        EthernetFrame(mac2, mac1, 0x0800,
                      Ipv4Packet(kTcp, hostA, hostB, TcpSegment(40002, 443, kSyn, Bytes(20)))),
        EthernetFrame(mac2, mac1, 0x0806, arpRequest),
        EthernetFrame(mac2, mac1, 0x86dd,
                      Ipv6Packet(kUdp, host6A, host6B, UdpDatagram(40003, 9999, Bytes(30, 2)))),
        EthernetFrame(mac2, mac1, 0x0800,
                      Ipv4Packet(kIcmp, hostA, hostB,
                                 testing::Concatenate({{8, 0, 0, 0, 0, 1, 0, 1}, Bytes(56)}))),
        EthernetFrame(mac2, mac1, 0x0800,
                      Ipv4Packet(kTcp, hostB, hostA, TcpSegment(80, 40004, 0x12, Bytes(10)))),
        testing::MakeTestFrame(200, 2),
    };
    const fs::path folder = scratch_ / "mixed";
    fs::create_directory(folder);
    for (std::size_t index = 0; index < frames.size(); ++index) {
        const timespec modified{1700000000 + static_cast<time_t>(index), 0};
        WritePacketFile(PacketFile(folder, static_cast<int>(index + 1)), frames[index], modified);
    }
    const fs::path whole = scratch_ / "whole.pcap";
    ASSERT_EQ(Tool({"export", folder.string(), whole.string()}).status, 0);

    const struct {
        const char* captureFilter;
        const char* displayFilter;
    } filters[] = {
        {"udp", "udp"},
        {"tcp port 443", "tcp.port == 443"},
        {"ip6", "ipv6"},
        {"arp or ether proto 0x88b5", "arp || eth.type == 0x88b5"},
        // The frame's length on the wire, which is the stored one.
        {"greater 150", "frame.len >= 150"},
        {"less 100", "frame.len <= 100"},
        {"len >= 100 and len <= 142", "frame.len >= 100 && frame.len <= 142"},
    };
    for (const auto& filter : filters) {
        SCOPED_TRACE(filter.captureFilter);
        const fs::path pcap = scratch_ / "filtered.pcap";
        const Finished exported =
            Tool({"export", "--filter", filter.captureFilter, folder.string(), pcap.string()});
        ASSERT_EQ(exported.status, 0) << exported.errors;
        const std::vector<std::string> expected = TsharkFrames(whole, filter.displayFilter);
        ASSERT_FALSE(expected.empty());
        ASSERT_LT(expected.size(), frames.size());
        EXPECT_EQ(TsharkFrames(pcap), expected);
        EXPECT_NE(
            exported.output.find("Exported " + std::to_string(expected.size()) +
                                 (expected.size() == 1 ? " frame from " : " frames from ") +
                                 folder.string() + " to " + pcap.string() + "; left out " +
                                 std::to_string(frames.size() - expected.size()) +
                                 (frames.size() - expected.size() == 1 ? " frame" : " frames") +
                                 " that the filter did not match"),
            std::string::npos)
            << exported.output;
    }
}

// Every packet file is exported in the order of its number, past any gap; the missing numbers,
// the files that cannot be frames (each with its reason) and the names that are not packet files'
// are told, and the status says whether the pcap is the whole folder. An output in the folder read
// is refused before anything is written, and a folder without packet files is said to be one.
TEST_F(ToolTest, ExportWritesEveryPacketFileAndNamesWhatIsMissingOrSkipped) {
    if (const std::string why = Unable(kTshark); !why.empty()) GTEST_SKIP() << why;
    const timespec modified{1700000000, 0};
    const auto frame = [](int number) {
        return testing::PatternBytes(static_cast<std::size_t>(100 + number),
                                     static_cast<unsigned>(number));
    };
    const auto write = [&](const fs::path& folder, const std::vector<int>& numbers) {
        for (const int number : numbers) {
            WritePacketFile(PacketFile(folder, number), frame(number), modified);
        }
    };
    const fs::path elsewhere = scratch_ / "elsewhere";
    WritePacketFile(elsewhere, frame(6), modified);
    struct Case {
        std::string name;
        std::function<void(const fs::path&)> fill;
        std::string outputInFolder;  // the output's name inside the folder, if it is put there
        int status;
        std::vector<std::string> messages;  // each on stderr ("<folder>" stands for the folder)
        std::vector<int> exported;          // the numbers whose frames the pcap holds, in order
    };
    const std::vector<Case> cases = {
        {"damaged",
         [&](const fs::path& folder) {
             write(folder, {1, 5, 9, 12});
             WritePacketFile(PacketFile(folder, 2), {}, modified);
             WritePacketFile(PacketFile(folder, 3), testing::PatternBytes(65537, 3), modified);
             fs::create_directory(PacketFile(folder, 4));
             fs::create_symlink(elsewhere, PacketFile(folder, 6));
             ASSERT_EQ(mkfifo(PacketFile(folder, 7).c_str(), 0600), 0);
             for (const char* name : {"010.hda", "0.hda", "+10.hda", "2147483648.hda", "11.HDA"}) {
                 WritePacketFile(folder / name, frame(11), modified);
             }
         },
         "",
         kExitFramesSkipped,
         {"skipped <folder>/2.hda: 0 bytes cannot be a frame (1 to 65536 bytes)\n",
          "skipped <folder>/3.hda: 65537 bytes cannot be a frame (1 to 65536 bytes)\n",
          "skipped <folder>/4.hda: a folder, not a packet file\n",
          "skipped <folder>/6.hda: a symbolic link, which is never followed\n",
          "skipped <folder>/7.hda: a FIFO, not a packet file\n",
          "no packet file for 3 of the numbers 1 to 12: 8, 10 to 11\n",
          "left out 5 files of the folder whose names are not those of packet files (1.hda, 2.hda, "
          "...): +10.hda, 0.hda, 010.hda, 11.HDA, 2147483648.hda\n"},
         {1, 5, 9, 12}},
        {"a gap alone",
         [&](const fs::path& folder) {
             write(folder, {1, 3});
         },
         "",
         kExitFramesSkipped,
         {"no packet file for 1 of the numbers 1 to 3: 2\n"},
         {1, 3}},
        {"whole", [&](const fs::path& folder) { write(folder, {1}); }, "", 0, {}, {1}},
        {"empty",
         [](const fs::path&) {},
         "",
         tool::kExitFailure,
         {"the folder <folder> holds no packet files (1.hda, 2.hda, ...): nothing to export\n"},
         {}},
        {"over its own packet file",
         [&](const fs::path& folder) {
             write(folder, {1, 2});
         },
         "1.hda",
         tool::kExitFailure,
         {"cannot be written: it is in the folder it reads (<folder>)"},
         {}},
        {"into its own folder",
         [&](const fs::path& folder) {
             write(folder, {1, 2});
         },
         "3.hda",
         tool::kExitFailure,
         {"cannot be written: it is in the folder it reads (<folder>)"},
         {}},
    };
    for (std::size_t index = 0; index < cases.size(); ++index) {
        const Case& exported = cases[index];
        SCOPED_TRACE(exported.name);
        const fs::path folder = scratch_ / ("folder-" + std::to_string(index));
        fs::create_directory(folder);
        exported.fill(folder);
        const fs::path pcap = exported.outputInFolder.empty()
                                  ? scratch_ / ("export-" + std::to_string(index) + ".pcap")
                                  : folder / exported.outputInFolder;
        const auto names = [&folder] {
            std::vector<std::string> found;
            for (const auto& entry : fs::directory_iterator(folder)) {
                found.push_back(entry.path().filename().string());
            }
            std::sort(found.begin(), found.end());
            return found;
        };
        const std::vector<std::string> before = names();
        const Finished run = Tool({"export", folder.string(), pcap.string()});
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.status, exported.status) << run.errors;
        for (std::string message : exported.messages) {
            message = std::regex_replace(message, std::regex("<folder>"), folder.string());
            EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        }
        // One line each, and nothing else.
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'),
                  std::ssize(exported.messages))
            << run.errors;
        EXPECT_EQ(names(), before);
        if (exported.status == tool::kExitFailure) {
            EXPECT_EQ(run.output, "");
            EXPECT_TRUE(exported.outputInFolder.empty()
                            ? !fs::exists(pcap)
                            : !fs::exists(pcap) || testing::ReadWholeFile(pcap) == frame(1))
                << "the export wrote " << pcap;
            continue;
        }
        EXPECT_NE(
            run.output.find("Exported " + std::to_string(exported.exported.size()) +
                            (exported.exported.size() == 1 ? " frame from " : " frames from ")),
            std::string::npos)
            << run.output;
        std::vector<std::string> expected;
        for (const int number : exported.exported) expected.push_back(Hex(frame(number)));
        EXPECT_EQ(TsharkFrames(pcap), expected);
    }
}

TEST_F(ToolTest, DemoCapturesItsOwnTrafficAndExportsIt) {
    if (const std::string why = Unable(kCapture | kTshark); !why.empty()) GTEST_SKIP() << why;
    const fs::path demoFolder = scratch_ / "demo";
    const Finished demo = Tool({"demo", "-o", demoFolder.string()});
    ASSERT_TRUE(demo.exited);
    ASSERT_EQ(demo.status, 0) << demo.errors;
    const fs::path pcap = demoFolder / "demo.pcap";
    EXPECT_NE(demo.output.find("tshark -r " + pcap.string()), std::string::npos) << demo.output;

    const int count = SummaryCount(demo.output);
    ASSERT_GE(count, 20) << demo.output;
    ExpectPacketFiles(demoFolder / "captures", count);
    EXPECT_EQ(TsharkFrames(pcap).size(), static_cast<std::size_t>(count));
}

}  // namespace
}  // namespace mirrowen::tooltest
