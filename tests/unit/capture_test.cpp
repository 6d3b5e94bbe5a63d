#include <filesystem>
#include <string>

#include "capture/live_capture.h"
#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

using LiveCapture = ScriptedCapture;

TEST(DeviceName, DropsTheFirstEightBytesWhateverTheyAre) {
    EXPECT_STREQ(capture::DeviceName("rpcap://eth0"), "eth0");
    EXPECT_STREQ(capture::DeviceName("xxxxxxxxeth1"), "eth1");
    EXPECT_STREQ(capture::DeviceName("rpcap://"), "");
    EXPECT_STREQ(capture::DeviceName("ab"), "");
}

TEST_F(LiveCapture, OpensTheDeviceWithTheFixedParameters) {
    EXPECT_EQ(Capture("rpcap://enp3s0"), ResultFinished);
    EXPECT_STREQ(StandInOpenedDevice(), "enp3s0");
    EXPECT_EQ(StandInOpenedSnapshotLength(), 65536);
    EXPECT_EQ(StandInOpenedPromiscuous(), 1);
    EXPECT_EQ(StandInOpenedTimeoutMs(), 200);
}

TEST_F(LiveCapture, StoresOnlyFramesOfMoreThanSixtyBytes) {
    QueueFrame(Frame(60, 1));
    QueueFrame(Frame(61, 2));
    StandInQueueTimeout();
    QueueFrame(Frame(14, 3));
    QueueFrame(Frame(1514, 4));
    QueueFrame(Frame(65536, 5));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 3);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), Frame(61, 2));
    EXPECT_EQ(ReadWholeFile(PacketFile(2)), Frame(1514, 4));
    EXPECT_EQ(ReadWholeFile(PacketFile(3)), Frame(65536, 5));
    EXPECT_FALSE(fs::exists(PacketFile(4)));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 3);
}

TEST_F(LiveCapture, TimeoutsOnlyLeadToAStopCheck) {
    for (int i = 0; i < 5; ++i) StandInQueueTimeout();
    QueueFrame(Frame(100));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(StandInReadCount(), 7);
    EXPECT_EQ(fileCount_, 1);
}

TEST_F(LiveCapture, ReadEndsDecideTheResult) {
    const struct {
        int lastRead;
        std::int32_t result;
    } cases[] = {{-1, ResultCaptureError}, {-2, ResultFinished}, {-3, ResultFinished}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastRead);
        StandInReset();
        QueueFrame(Frame(100, 1));
        QueueFrame(Frame(200, 2));
        StandInQueueResult(c.lastRead);
        QueueFrame(Frame(300, 3));  // never read
        EXPECT_EQ(Capture(), c.result);
        EXPECT_EQ(fileCount_, 2);
        EXPECT_EQ(ReadWholeFile(PacketFile(2)), Frame(200, 2));
        EXPECT_EQ(StandInReadCount(), 3);
        EXPECT_EQ(StandInOpenCount(), 1);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

void StoreStop(void* stopFlag) { std::atomic_ref(*static_cast<std::int32_t*>(stopFlag)).store(5); }

void StoreStopAtThirdRead(int readNumber, void* stopFlag) {
    if (readNumber == 3) StoreStop(stopFlag);
}

TEST_F(LiveCapture, AStopEndsTheLoopAfterTheFrameBeingRead) {
    for (unsigned i = 0; i < 6; ++i) QueueFrame(Frame(100, i));
    StandInOnRead(StoreStopAtThirdRead, &stopFlag_);
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(StandInReadCount(), 3);
    EXPECT_EQ(fileCount_, 3) << "the frame of the read that saw the stop is still stored";
    EXPECT_EQ(stopFlag_, 5);
    EXPECT_EQ(StandInCloseCount(), 1);
}

TEST_F(LiveCapture, AStopStoredAfterTheResetEndsTheCallBeforeAnyRead) {
    QueueFrame(Frame(100));
    StandInOnOpen(StoreStop, &stopFlag_);
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(StandInReadCount(), 0);
    EXPECT_EQ(fileCount_, 0);
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
        const auto size = fs::file_size(check.folder / (std::to_string(number) + ".hda"), error);
        if (error || size != check.sizes[static_cast<std::size_t>(number - 1)]) ++check.violations;
    }
}

TEST_F(LiveCapture, TheCountOnlyEverNamesCompleteFiles) {
    CompletenessCheck check{&fileCount_, folder_, {}};
    for (std::size_t size : {61U, 1514U, 9000U, 64U, 65536U}) {
        QueueFrame(Frame(size));
        check.sizes.push_back(size);
    }
    StandInOnRead(CheckCountedFilesAreComplete, &check);
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 5);
    EXPECT_EQ(check.violations, 0);
}

TEST_F(LiveCapture, EveryResultReleasesWhatItAcquired) {
    const std::size_t before = OpenDescriptorCount();
    StandInFailOpen("no");
    EXPECT_EQ(Capture(), ResultAdapterFailed);
    StandInReset();
    StandInSetLinkType(0);
    EXPECT_EQ(Capture(), ResultNotEthernet);
    StandInReset();
    QueueFrame(Frame(100));
    StandInQueueResult(-1);
    EXPECT_EQ(Capture(), ResultCaptureError);
    fs::remove(PacketFile(1));
    fs::create_directory(PacketFile(1));
    StandInReset();
    QueueFrame(Frame(100));
    EXPECT_EQ(Capture(), ResultFileFailed);
    EXPECT_EQ(StandInCloseCount(), 1);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace mirrowen::testing
