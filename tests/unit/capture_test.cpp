#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_buffer.h"
#include "capture/live_capture.h"
#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

using LiveCapture = ScriptedCapture;

TEST(DeviceName, DropsTheFirstEightBytesWhateverTheyAre) {
    EXPECT_STREQ(capture::DeviceName(AdapterName("eth0").c_str()), "eth0");
    EXPECT_STREQ(capture::DeviceName("xxxxxxxxeth1"), "eth1");
    EXPECT_STREQ(capture::DeviceName(AdapterName("").c_str()), "");
    EXPECT_STREQ(capture::DeviceName("ab"), "");
}

TEST_F(LiveCapture, OpensTheDeviceWithTheFixedParameters) {
    const std::string device = "\\Device\\NPF_{1234}";  // as Npcap names an adapter
    EXPECT_EQ(Capture(AdapterName(device)), ResultFinished);
    EXPECT_STREQ(StandInOpenedDevice(), device.c_str());
    EXPECT_EQ(StandInOpenedSnapshotLength(), 65536);
    EXPECT_EQ(StandInOpenedPromiscuous(), 1);
    EXPECT_EQ(StandInOpenedTimeoutMs(), 200);
    ASSERT_EQ(StandInBufferRequestCount(), 1);
    EXPECT_EQ(StandInBufferRequest(0),
              static_cast<int>(capture::CaptureBufferBytes(device.c_str())));
}

// The ring's size: the operator's whole MiB where given, else one second at the adapter's link
// speed (64 MiB where it reports none), within 384 MiB and a sixteenth of the machine's memory;
// 0 (the capture library's default) where that comes to less than 2 MiB.
TEST(CaptureBuffer, IsTheOperatorsWholeMiBOrOneSecondAtTheLinkSpeedBoundedByMemory) {
    constexpr std::uint64_t kMiB = 1 << 20;
    constexpr std::uint64_t kLargeMachine = 64 * 1024 * kMiB;
    constexpr std::uint64_t kGigabit = 1'000'000'000;
    const struct {
        const char* setting;
        std::uint64_t linkSpeed;
        std::uint64_t memory;
        std::uint64_t bytes;
    } cases[] = {
        {nullptr, 0, kLargeMachine, 64 * kMiB},  // no speed reported
        {nullptr, 10 * kGigabit, kLargeMachine, 384 * kMiB},
        {nullptr, 100 * kGigabit, 0, 384 * kMiB},  // memory unknown
        {nullptr, kGigabit, kLargeMachine, 120 * kMiB},
        {nullptr, kGigabit / 10, kLargeMachine, 12 * kMiB},
        {nullptr, kGigabit / 100, kLargeMachine, 2 * kMiB},
        {nullptr, kGigabit / 1000, kLargeMachine, 0},
        {"64", 10 * kGigabit, kLargeMachine, 64 * kMiB},
        {"1", 0, kLargeMachine, 1 * kMiB},
        {"0064", 0, kLargeMachine, 64 * kMiB},
        {"2047", 0, kLargeMachine, 2047 * kMiB},
        // Not a whole number of MiB from 1 to 2047: the rule's size.
        {"", kGigabit, kLargeMachine, 120 * kMiB},
        {"0", 0, kLargeMachine, 64 * kMiB},
        {"2048", 0, kLargeMachine, 64 * kMiB},
        {"-64", 0, kLargeMachine, 64 * kMiB},
        {"+64", 0, kLargeMachine, 64 * kMiB},
        {" 64", 0, kLargeMachine, 64 * kMiB},
        {"64MB", 0, kLargeMachine, 64 * kMiB},
        {"6.4", 0, kLargeMachine, 64 * kMiB},
        {"99999999999999999999999", 0, kLargeMachine, 64 * kMiB},
        // A sixteenth of the machine's memory at most; too little of it for more than the
        // capture library's default leaves that default.
        {nullptr, 10 * kGigabit, 1024 * kMiB, 64 * kMiB},
        {"1024", 0, 4096 * kMiB, 256 * kMiB},
        {"16", 0, 4096 * kMiB, 16 * kMiB},
        {nullptr, 0, 16 * kMiB, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting != nullptr ? c.setting : "(not set)");
        SCOPED_TRACE(c.linkSpeed);
        SCOPED_TRACE(c.memory);
        EXPECT_EQ(MirrowenCaptureBufferBytes(
                      MirrowenCaptureBufferSettingMiB(c.setting != nullptr ? c.setting : ""),
                      c.linkSpeed, c.memory),
                  c.bytes);
    }
}

// The capture buffer's bound is a share of the machine's whole memory, not of what happens to be
// free when the call starts.
TEST(CaptureBuffer, IsBoundedByTheMachinesWholeMemory) {
    const std::uint64_t installed = InstalledMemoryBytes();
    ASSERT_GT(installed, 0u);
    EXPECT_EQ(platform::PhysicalMemoryBytes(), installed);
}

TEST_F(LiveCapture, StoresOnlyFramesOfMoreThanSixtyBytes) {
    QueueFrame(PatternBytes(60, 1));
    QueueFrame(PatternBytes(61, 2));
    StandInQueueTimeout();
    QueueFrame(PatternBytes(14, 3));
    QueueFrame(PatternBytes(1514, 4));
    QueueFrame(PatternBytes(65536, 5));
    // Only the captured bytes of a frame cut short by the snapshot length are stored.
    StandInQueueCutFrame(PatternBytes(1514, 6).data(), 100, 1514);
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 4);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(61, 2));
    EXPECT_EQ(ReadWholeFile(PacketFile(2)), PatternBytes(1514, 4));
    EXPECT_EQ(ReadWholeFile(PacketFile(3)), PatternBytes(65536, 5));
    EXPECT_EQ(ReadWholeFile(PacketFile(4)), PatternBytes(100, 6));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 4);
}

TEST_F(LiveCapture, TimeoutsOnlyLeadToAStopCheck) {
    for (int i = 0; i < 5; ++i) StandInQueueTimeout();
    QueueFrame(PatternBytes(100));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(StandInReadCount(), 7);
    EXPECT_EQ(fileCount_, 1);
}

TEST_F(LiveCapture, ReadEndsDecideTheResult) {
    const struct {
        int lastRead;
        std::int32_t result;
    } cases[] = {{-1, ResultCaptureError},
                 {-2, ResultFinished},
                 {-3, ResultFinished},
                 {-100, ResultFinished}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastRead);
        StandInReset();
        QueueFrame(PatternBytes(100, 1));
        QueueFrame(PatternBytes(200, 2));
        StandInQueueResult(c.lastRead);
        QueueFrame(PatternBytes(300, 3));  // never read
        EXPECT_EQ(Capture(), c.result);
        EXPECT_EQ(fileCount_, 2);
        EXPECT_EQ(ReadWholeFile(PacketFile(2)), PatternBytes(200, 2));
        EXPECT_EQ(StandInReadCount(), 3);
        EXPECT_EQ(StandInOpenCount(), 1);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

// A stop stored from another thread while the reads go on ends the call after the current read.
TEST_F(LiveCapture, AStopFromAnotherThreadEndsTheCall) {
    constexpr int kQueuedTimeouts = 5000;
    for (int i = 0; i < kQueuedTimeouts; ++i) StandInQueueTimeout();
    std::atomic<int> reads{0};
    StandInOnRead(
        [](int, void* context) {
            ++*static_cast<std::atomic<int>*>(context);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        &reads);
    std::int32_t result = 0;
    std::thread capture([&] { result = Capture(); });
    for (int waitedMs = 0; reads < 3 && waitedMs < 30000; ++waitedMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::atomic_ref(stopFlag_).store(5);
    capture.join();
    EXPECT_EQ(result, ResultFinished);
    EXPECT_GE(StandInReadCount(), 3);
    EXPECT_LT(StandInReadCount(), kQueuedTimeouts);
    EXPECT_EQ(StandInCloseCount(), 1);
}

struct CompletenessCheck {
    const std::int32_t* fileCount;
    fs::path folder;
    std::vector<std::size_t> sizes;
    int violations = 0;
};

void CheckCountedFilesAreComplete(int, void* context) {
    auto& check = *static_cast<CompletenessCheck*>(context);
    const std::int32_t count = std::atomic_ref(*const_cast<std::int32_t*>(check.fileCount)).load();
    for (std::int32_t number = 1; number <= count; ++number) {
        std::error_code error;
        const auto size = fs::file_size(PacketFile(check.folder, number), error);
        if (error || size != check.sizes[static_cast<std::size_t>(number - 1)]) ++check.violations;
    }
}

TEST_F(LiveCapture, TheCountOnlyEverNamesCompleteFiles) {
    CompletenessCheck check{&fileCount_, folder_, {}};
    for (std::size_t size : {61U, 1514U, 9000U, 64U, 65536U}) {
        QueueFrame(PatternBytes(size));
        check.sizes.push_back(size);
    }
    StandInOnRead(CheckCountedFilesAreComplete, &check);
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 5);
    EXPECT_EQ(check.violations, 0);
}

}  // namespace
}  // namespace mirrowen::testing
