// Mirrowen.dll on real frames, for each Windows architecture whose build tree this tree was
// told of: its host from that tree (tests/windows/real-frames/) runs under Wine of the same
// architecture over Wine's own wpcap.dll, which forwards to the machine's libpcap of that
// architecture, inside a network namespace of the test's own, and what it stores is compared with
// a reference capture of the same veth end; and the same tree's mirrowen.exe, which loads that
// DLL, on the same kind of traffic. The x64 tree is always tested: without it, its tests skip.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>

#include <gtest/gtest.h>

#include "capture_run.h"
#include "frames.h"
#include "network_namespace.h"
#include "reference_capture.h"
#include "tshark.h"
#include "wine_prefix.h"

namespace mirrowen::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A Windows build tree's host program and tool; empty where this tree was not told of the tree.
struct WindowsTree {
    WineArchitecture architecture;
    const char* host;
    const char* tool;
};
const WindowsTree kTrees[] = {
    {WineArchitecture::x64, MIRROWEN_REAL_FRAMES_HOST_X64, MIRROWEN_WINDOWS_TOOL_X64},
    {WineArchitecture::x86, MIRROWEN_REAL_FRAMES_HOST_X86, MIRROWEN_WINDOWS_TOOL_X86},
};
constexpr auto kProgramLimit = 60s;
constexpr std::size_t kFramesStored = 1000;
// Sent in turn: frames of 60 bytes are never stored, the others are.
constexpr std::size_t kLengths[] = {60, 61, 100, 1514};
constexpr std::uint32_t kWakeSequences = 1'000'000;

class RealFramesUnderWine : public ::testing::TestWithParam<WindowsTree> {
  protected:
    void SetUp() override {
        if (std::string(kHost).empty()) {
            GTEST_SKIP() << "no x64 Windows build tree named: configure this tree with "
                            "-DMIRROWEN_WINDOWS_X64_BUILD_DIR=<it> (scripts/test-all does)";
        }
        for (const std::string& why :
             {WhyLiveCapturesCannotRun(), WinePrefix::WhyItCannotRun(kArchitecture)}) {
            if (!why.empty()) GTEST_SKIP() << why;
        }
        for (const char* program : {kHost, kTool}) {
            ASSERT_TRUE(fs::exists(program)) << program << " is missing: build the Windows tree";
        }
    }

    const WineArchitecture kArchitecture = GetParam().architecture;
    const char* const kHost = GetParam().host;
    const char* const kTool = GetParam().tool;
};

// The x64 tree always, so that its tests skip, saying why, where it was not named; the x86 tree
// where it was (scripts/test-all names it where 32-bit Wine runs).
std::vector<WindowsTree> TreesToTest() {
    std::vector<WindowsTree> trees;
    for (const WindowsTree& tree : kTrees) {
        if (tree.architecture == WineArchitecture::x64 || std::string(tree.host) != "") {
            trees.push_back(tree);
        }
    }
    return trees;
}
INSTANTIATE_TEST_SUITE_P(Windows, RealFramesUnderWine, ::testing::ValuesIn(TreesToTest()),
                         [](const auto& tree) {
                             return std::string(WineArchitectureName(tree.param.architecture));
                         });

std::int64_t ModifiedNanoseconds(const fs::path& file) {
    struct stat status {};
    if (stat(file.c_str(), &status) != 0) return -1;
    return std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
}

// Waits, within a bound, until packet file `number` exists.
bool WaitForFile(const fs::path& folder, std::int64_t number) {
    for (int poll = 0; poll < 3000 && !fs::exists(PacketFile(folder, number)); ++poll) {
        std::this_thread::sleep_for(10ms);
    }
    return fs::exists(PacketFile(folder, number));
}

TEST_P(RealFramesUnderWine, TheDllStoresEveryFrameAsTheReferenceCaptureSawIt) {
    const VethNamespace network;
    ReferenceCapture reference(VethNamespace::kCaptureEnd);
    const WinePrefix wine(kArchitecture);
    const FrameSender sender(VethNamespace::kSendEnd);
    const TemporaryFolder scratch;
    const std::string folder = WinePrefix::WindowsPath(scratch.path());

    // A missing adapter: 3, and the capture library's own reason in the message box.
    {
        WineProgram host(wine, {kHost, "missing",
                                R"(\Device\NPF_{00000000-0000-0000-0000-000000000000})", folder});
        ASSERT_EQ(host.WaitForExit(kProgramLimit), 0) << host.Errors();
        const std::optional<std::string> reason = host.WaitForLine("open_live ", 0ms);
        ASSERT_TRUE(reason);
        const std::string text = reason->substr(std::string("open_live ").size());
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(host.OutputLines(),
                  (std::vector<std::string>{"result 3", "box Mirrowen: " + text, reason.value()}));
        EXPECT_TRUE(PacketFileNumbers(scratch.path()).empty());
    }

    // The adapter found by its Linux name in the capture library's list.
    WineProgram host(wine, {kHost, "capture", VethNamespace::kCaptureEnd, folder});
    ASSERT_TRUE(host.WaitForLine("capturing on ", kProgramLimit)) << host.Errors();
    // Probes until one is stored: from then on, every frame sent is captured. Probes still on
    // their way land in the pause after it (libpcap hands frames over in blocks, up to one read
    // timeout late).
    for (std::uint32_t probe = 0; probe < 100 && !fs::exists(PacketFile(scratch.path(), 1));
         ++probe) {
        sender.Send(MakeProbeFrame(probe));
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(WaitForFile(scratch.path(), 1)) << host.Errors();
    std::this_thread::sleep_for(1s);
    const auto probesStored = static_cast<std::int64_t>(PacketFileNumbers(scratch.path()).size());

    // The frames, sent in groups, each waited for before the next, so that the capture never has
    // more than a group to catch up with.
    std::vector<Bytes> expected;
    for (std::uint32_t sequence = 0; expected.size() < kFramesStored; ++sequence) {
        const Bytes frame = MakeTestFrame(kLengths[sequence % std::size(kLengths)], sequence);
        sender.Send(frame);
        if (frame.size() <= 60) continue;
        expected.push_back(frame);
        if (expected.size() % 100 == 0) {
            ASSERT_TRUE(WaitForFile(scratch.path(),
                                    probesStored + static_cast<std::int64_t>(expected.size())));
        }
    }

    // Wine's pcap_next_ex is libpcap's blocking read, which on Linux does not return while no
    // frame comes (on Windows the driver's read timeout ends it), so the call would not see the
    // stop flag on an idle adapter. Frames of 60 bytes, which are never stored, wake it.
    host.CloseInput();
    for (std::uint32_t wake = 0; wake < 200 && !host.WaitForExit(50ms); ++wake) {
        sender.Send(MakeTestFrame(60, kWakeSequences + wake));
    }
    ASSERT_EQ(host.WaitForExit(kProgramLimit), 0) << host.Errors();
    const std::vector<ReferenceCapture::Frame> captured = reference.Stop();

    const std::vector<int> numbers = PacketFileNumbers(scratch.path());
    const auto fileCount = static_cast<std::int64_t>(numbers.size());
    EXPECT_EQ(host.WaitForLine("result ", 0ms), "result 1 files " + std::to_string(fileCount));
    ASSERT_EQ(fileCount, probesStored + static_cast<std::int64_t>(kFramesStored));
    EXPECT_EQ(numbers.back(), fileCount);
    // Byte-exact and in order after the leading probes.
    EXPECT_TRUE(StoredTestFrames(scratch.path()) == expected);

    // Each file's last-write time is its frame's capture time as the reference saw it: the
    // capture library reports microseconds, so they agree well within 1 ms.
    // Keyed by the bytes as text: GCC 12 warns falsely of an over-read in the optimised ordering of
    // byte vectors.
    const auto key = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    std::unordered_map<std::string, std::int64_t> capturedAt;
    for (const ReferenceCapture::Frame& frame : captured)
        capturedAt[key(frame.bytes)] = frame.nanoseconds;
    int unmatched = 0;
    int offTime = 0;
    for (const int number : numbers) {
        const auto reference =
            capturedAt.find(key(ReadWholeFile(PacketFile(scratch.path(), number))));
        if (reference == capturedAt.end()) {
            ++unmatched;
        } else if (std::abs(ModifiedNanoseconds(PacketFile(scratch.path(), number)) -
                            reference->second) > 1'000'000) {
            ++offTime;
        }
    }
    EXPECT_EQ(unmatched, 0) << "files whose frame the reference capture did not see";
    EXPECT_EQ(offTime, 0) << "files whose time is more than 1 ms from the reference's";
}

// The probes a program's capture into `folder` stored once it was capturing (the test support's
// WaitUntilCapturing); 0 if it stored none.
std::int64_t WaitUntilCapturing(WineProgram& program, const FrameSender& sender,
                                const fs::path& folder) {
    return mirrowen::testing::WaitUntilCapturing(
               sender, [&program] { return !program.WaitForExit(0ms); },
               [&folder] { return static_cast<std::int64_t>(PacketFileNumbers(folder).size()); })
        .stored;
}

// Wine's pcap_next_ex does not return while no frame comes (see above): frames of 60 bytes, never
// stored, wake the capture so that it sees its stop. The program's status once it has ended.
std::optional<int> WakeUntilExit(WineProgram& program, const FrameSender& sender) {
    for (std::uint32_t wake = 0; wake < 200 && !program.WaitForExit(50ms); ++wake) {
        sender.Send(MakeTestFrame(60, kWakeSequences + wake));
    }
    return program.WaitForExit(kProgramLimit);
}

std::string ModifiedTime(const fs::path& file) {
    const std::int64_t nanoseconds = ModifiedNanoseconds(file);
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%09lld",
                  static_cast<long long>(nanoseconds / 1'000'000'000),
                  static_cast<long long>(nanoseconds % 1'000'000'000));
    return text;
}

// mirrowen.exe as a Windows user runs it, on the test's veth end: `list` names the adapter with
// its description, `capture --count 20` leaves exactly 20 files of the frames sent, Ctrl-C (SIGINT
// to the Wine process, which Wine turns into the console's Ctrl-C event) ends a capture with its
// summary, and `export` writes a pcap file that tshark reads byte for byte, each frame at its
// packet file's time.
TEST_P(RealFramesUnderWine, TheToolListsCapturesStopsAndExports) {
    using tooltest::Hex;
    if (const std::string why = tooltest::WhyTsharkCannotRun(); !why.empty()) GTEST_SKIP() << why;
    constexpr int kCount = 20;
    const VethNamespace network;
    const WinePrefix wine(kArchitecture);
    const FrameSender sender(VethNamespace::kSendEnd);
    const TemporaryFolder scratch;
    const fs::path counted = scratch.path() / "counted";
    const fs::path interrupted = scratch.path() / "interrupted";

    // Wine's capture library names the veth end \Device\NPF_{...}, described by its Linux name.
    WineProgram list(wine, {kTool, "list"});
    ASSERT_EQ(list.WaitForExit(kProgramLimit), 0) << list.Errors();
    std::string adapter;
    for (const std::string& line : list.OutputLines()) {
        if (line.ends_with(std::string(" ") + VethNamespace::kCaptureEnd)) {
            std::istringstream words(line);
            std::string link;
            words >> adapter >> link;
            EXPECT_EQ(link, "Ethernet") << line;
        }
    }
    ASSERT_TRUE(adapter.starts_with("rpcap://\\Device\\NPF_{"))
        << ::testing::PrintToString(list.OutputLines());

    // Twice the count in one burst: the DLL stores past the count before the tool's stop takes
    // effect, and the tool removes what it stored past it.
    {
        WineProgram capture(
            wine, {kTool, "capture", "-i", adapter, "-o", WinePrefix::WindowsPath(counted),
                   "--count", std::to_string(kCount)});
        const std::int64_t probes = WaitUntilCapturing(capture, sender, counted);
        ASSERT_GT(probes, 0) << capture.Errors();
        ASSERT_LT(probes, kCount);
        std::vector<Bytes> sent;
        for (std::uint32_t index = 0; index < 2 * kCount; ++index) {
            sent.push_back(MakeTestFrame(100 + index, index));
            sender.Send(sent.back());
        }
        sent.resize(static_cast<std::size_t>(kCount - probes));
        ASSERT_EQ(WakeUntilExit(capture, sender), 0) << capture.Errors();
        EXPECT_TRUE(capture.WaitForLine(
            "Captured " + std::to_string(kCount) + " packet files from " + adapter, 0ms))
            << ::testing::PrintToString(capture.OutputLines());
        EXPECT_EQ(PacketFileNumbers(counted).size(), static_cast<std::size_t>(kCount));
        EXPECT_EQ(PacketFileNumbers(counted).back(), kCount);
        EXPECT_TRUE(StoredTestFrames(counted) == sent);
    }

    // Ctrl-C, while frames are stored; the summary counts the files left.
    {
        WineProgram capture(
            wine, {kTool, "capture", "-i", adapter, "-o", WinePrefix::WindowsPath(interrupted)});
        const std::int64_t probes = WaitUntilCapturing(capture, sender, interrupted);
        ASSERT_GT(probes, 0) << capture.Errors();
        for (std::uint32_t index = 0; index < 10; ++index) sender.Send(MakeTestFrame(200, index));
        ASSERT_TRUE(WaitForFile(interrupted, probes + 10));
        capture.Signal(SIGINT);
        ASSERT_EQ(WakeUntilExit(capture, sender), 0) << capture.Errors();
        const std::size_t files = PacketFileNumbers(interrupted).size();
        const std::optional<std::string> summary = capture.WaitForLine("Captured ", 0ms);
        ASSERT_TRUE(summary) << ::testing::PrintToString(capture.OutputLines());
        EXPECT_TRUE(summary->starts_with("Captured " + std::to_string(files) + " packet files"))
            << *summary;
        EXPECT_TRUE(summary->ends_with("; stopped by Ctrl-C.")) << *summary;
    }

    const fs::path pcap = scratch.path() / "counted.pcap";
    WineProgram exporter(
        wine, {kTool, "export", WinePrefix::WindowsPath(counted), WinePrefix::WindowsPath(pcap)});
    ASSERT_EQ(exporter.WaitForExit(kProgramLimit), 0) << exporter.Errors();
    std::vector<std::string> frames;
    std::vector<std::string> times;
    for (int number = 1; number <= kCount; ++number) {
        frames.push_back(Hex(ReadWholeFile(PacketFile(counted, number))));
        times.push_back(ModifiedTime(PacketFile(counted, number)));
    }
    EXPECT_EQ(tooltest::TsharkFrames(pcap), frames);
    EXPECT_EQ(tooltest::TsharkTimes(pcap), times);
}

}  // namespace
}  // namespace mirrowen::testing
