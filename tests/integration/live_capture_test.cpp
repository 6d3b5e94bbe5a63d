// The real module over the real capture library, as a host loads and calls it. Needs root: the
// tests open adapters and build network namespaces of their own.
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "capture_run.h"
#include "frames.h"
#include "module_test.h"
#include "network_namespace.h"

namespace mirrowen::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class LiveCapture : public ModuleTest {};

// The line reads as pcap_open_live's own text for the same device, whatever the library opens with.
TEST_F(LiveCapture, MissingAdapterReportsOneLineAndLeavesNoDescriptor) {
    const EndedCall call = CallToItsEnd(AdapterName("mirrowen-none0"), scratch_.path());
    EXPECT_EQ(call.result, ResultAdapterFailed);
    EXPECT_EQ(call.stopFlag, 0);
    EXPECT_EQ(call.fileCount, 0);
    char openLiveText[PCAP_ERRBUF_SIZE] = "";
    ASSERT_EQ(pcap_open_live("mirrowen-none0", MIRROWEN_SNAPSHOT_LENGTH, 1, 200, openLiveText),
              nullptr);
    EXPECT_EQ(call.told, std::string("Mirrowen: ") + openLiveText + "\n");
}

TEST_F(LiveCapture, CookedLinkTypeIsNotEthernet) {
    const EndedCall call = CallToItsEnd(AdapterName("any"), scratch_.path());
    EXPECT_EQ(call.result, ResultNotEthernet);
    EXPECT_EQ(call.fileCount, 0);
    EXPECT_EQ(call.told, "");
}

TEST_F(LiveCapture, StopOnAnIdleAdapterEndsTheCallPromptly) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    std::this_thread::sleep_for(600ms);  // well into the idle read loop
    ASSERT_FALSE(run.WaitForResult(0ms)) << "the call ended before the stop";
    const auto stopped = std::chrono::steady_clock::now();
    run.Stop();
    // One read timeout is 200 ms; the bound is generous so a loaded machine cannot fail it.
    EXPECT_EQ(run.WaitForResult(3s), ResultFinished);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 3s);
    EXPECT_EQ(run.FileCount(), 0);
}

TEST_F(LiveCapture, StoresFramesAboveSixtyBytesByteForByteInOrder) {
    MakeNetwork(9500);
    CaptureRun run = StartCapture(scratch_.path());
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);

    const std::vector<std::vector<unsigned char>> sent = {
        MakeTestFrame(60, 1), MakeTestFrame(61, 2), MakeTestFrame(1514, 3), MakeTestFrame(9000, 4)};
    const std::int32_t probes = run.FileCount();
    for (const auto& frame : sent) sender_->Send(frame);
    ASSERT_TRUE(run.WaitForFileCount(probes + 3));
    run.Stop();
    ASSERT_EQ(run.WaitForResult(kCallLimit), ResultFinished);

    const auto stored = StoredTestFrames(scratch_.path());
    ASSERT_EQ(stored.size(), 3U);
    EXPECT_EQ(stored[0], sent[1]);
    EXPECT_EQ(stored[1], sent[2]);
    EXPECT_EQ(stored[2], sent[3]);
    EXPECT_FALSE(fs::exists(PacketFile(scratch_.path(), run.FileCount() + 1)));
}

timespec WallClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

std::chrono::nanoseconds SinceEpoch(const timespec& time) {
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

// Frames sent 50 ms apart are handed over together at the read timeout, but each packet file's
// modification time is when its frame was captured: between the wall clock just before its send
// and shortly after the send returned.
TEST_F(LiveCapture, EachFileIsStampedWithItsFramesCaptureTime) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);

    constexpr std::uint32_t kFrames = 5;
    const std::int32_t probes = run.FileCount();
    std::vector<std::pair<timespec, timespec>> sendTimes;
    for (std::uint32_t sequence = 0; sequence < kFrames; ++sequence) {
        const timespec before = WallClock();
        sender_->Send(MakeTestFrame(100, sequence));
        sendTimes.emplace_back(before, WallClock());
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(run.WaitForFileCount(probes + static_cast<std::int32_t>(kFrames)));
    run.Stop();
    ASSERT_EQ(run.WaitForResult(kCallLimit), ResultFinished);

    for (std::uint32_t sequence = 0; sequence < kFrames; ++sequence) {
        SCOPED_TRACE(sequence);
        const fs::path file = PacketFile(scratch_.path(), probes + 1 + sequence);
        ASSERT_EQ(ReadWholeFile(file), MakeTestFrame(100, sequence));
        struct stat status {};
        ASSERT_EQ(stat(file.c_str(), &status), 0);
        const auto captured = SinceEpoch(status.st_mtim);
        EXPECT_GE(captured, SinceEpoch(sendTimes[sequence].first));
        // The kernel stamps a frame on a veth pair within its send; the slack allows for a
        // receive that the kernel deferred.
        EXPECT_LE(captured, SinceEpoch(sendTimes[sequence].second) + 20ms);
    }
}

TEST_F(LiveCapture, FileCountNeverNamesAFileStillBeingWritten) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);

    constexpr std::size_t kFrameSize = 1000;
    constexpr std::uint32_t kFrames = 300;
    std::atomic<bool> reading{true};
    std::atomic<int> incompleteSeen{0};
    std::atomic<int> checks{0};
    std::thread reader([&] {
        while (reading.load()) {
            const std::int32_t count = run.FileCount();
            const fs::path newest = PacketFile(scratch_.path(), count);
            std::error_code error;
            const auto size = fs::file_size(newest, error);
            if (error || (size != kFrameSize && !IsProbeFrame(ReadWholeFile(newest)))) {
                ++incompleteSeen;
            }
            ++checks;
        }
    });
    const std::int32_t probes = run.FileCount();
    for (std::uint32_t sequence = 0; sequence < kFrames; ++sequence) {
        sender_->Send(MakeTestFrame(kFrameSize, sequence));
    }
    const bool allStored = run.WaitForFileCount(probes + static_cast<std::int32_t>(kFrames));
    reading.store(false);
    reader.join();
    run.Stop();
    ASSERT_EQ(run.WaitForResult(kCallLimit), ResultFinished);

    ASSERT_TRUE(allStored);
    EXPECT_EQ(incompleteSeen.load(), 0) << "of " << checks.load() << " reads of the count";
    const auto stored = StoredTestFrames(scratch_.path());
    ASSERT_EQ(stored.size(), kFrames);
    for (std::uint32_t sequence = 0; sequence < kFrames; ++sequence) {
        ASSERT_EQ(stored[sequence], MakeTestFrame(kFrameSize, sequence)) << sequence;
    }
}

}  // namespace
}  // namespace mirrowen::testing
