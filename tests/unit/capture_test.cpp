#include <pcap/pcap.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "capture/capture_buffer.h"
#include "capture/live_capture.h"
#include "common/application_name.h"
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
    ASSERT_EQ(StandInBufferRequestCount(), 1);
    EXPECT_EQ(StandInBufferRequest(0), static_cast<int>(capture::CaptureBufferBytes()));
}

constexpr int kMiB = 1 << 20;

TEST(CaptureBuffer, IsTheOperatorsWholeMiBOrTheDefaultBoundedByMemory) {
    constexpr std::uint64_t kMiB = 1 << 20;
    constexpr std::uint64_t kLargeMachine = 64 * 1024 * kMiB;
    const struct {
        const char* setting;
        std::uint64_t memory;
        std::uint64_t bytes;
    } cases[] = {
        {nullptr, kLargeMachine, 384 * kMiB},
        {nullptr, 0, 384 * kMiB},  // memory unknown
        {"64", kLargeMachine, 64 * kMiB},
        {"1", kLargeMachine, 1 * kMiB},
        {"0064", kLargeMachine, 64 * kMiB},
        {"2047", kLargeMachine, 2047 * kMiB},
        // Not a whole number of MiB from 1 to 2047: the default.
        {"", kLargeMachine, 384 * kMiB},
        {"0", kLargeMachine, 384 * kMiB},
        {"2048", kLargeMachine, 384 * kMiB},
        {"-64", kLargeMachine, 384 * kMiB},
        {"+64", kLargeMachine, 384 * kMiB},
        {" 64", kLargeMachine, 384 * kMiB},
        {"64MB", kLargeMachine, 384 * kMiB},
        {"6.4", kLargeMachine, 384 * kMiB},
        {"99999999999999999999999", kLargeMachine, 384 * kMiB},
        // A sixteenth of the machine's memory at most; too little of it for more than the
        // capture library's default leaves that default.
        {nullptr, 1024 * kMiB, 64 * kMiB},
        {"1024", 4096 * kMiB, 256 * kMiB},
        {"16", 4096 * kMiB, 16 * kMiB},
        {nullptr, 16 * kMiB, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting != nullptr ? c.setting : "(not set)");
        SCOPED_TRACE(c.memory);
        EXPECT_EQ(capture::CaptureBufferBytes(c.setting, c.memory), c.bytes);
    }
}

// Sets an environment variable for as long as it lives.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* previous = std::getenv(name)) previous_ = previous;
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (previous_) {
            setenv(name_, previous_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

// Where the kernel refuses a ring, each activation fails with a generic error: the library asks
// again for half, and a handle that failed is released before the next is made.
TEST_F(LiveCapture, ARefusedBufferIsAskedForInHalvesDownToTheCaptureLibrarysDefault) {
    const ScopedEnvironment setting(capture::kCaptureBufferVariable, "200");
    StandInRefuseBuffersAbove(30 * kMiB);
    QueueFrame(Frame(100));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 1);
    ASSERT_EQ(StandInBufferRequestCount(), 4);
    EXPECT_EQ(StandInBufferRequest(0), 200 * kMiB);
    EXPECT_EQ(StandInBufferRequest(3), 25 * kMiB);
    EXPECT_EQ(StandInOpenCount(), 1);
    EXPECT_EQ(StandInHandlesOpen(), 0);

    StandInReset();
    StandInRefuseBuffersAbove(1 * kMiB);
    EXPECT_EQ(Capture(), ResultFinished);
    ASSERT_EQ(StandInBufferRequestCount(), 7);  // 200, 100, 50, 25, 12.5, 6.25 MiB, then unset
    EXPECT_EQ(StandInBufferRequest(6), 0);
    EXPECT_EQ(StandInHandlesOpen(), 0);
}

// A failure whatever the size reads as pcap_open_live's would: the last attempt's, with the
// capture library's default buffer. A status other than a generic error is not about the buffer
// and is not tried again.
TEST_F(LiveCapture, AnOpenThatFailsWhateverTheSizeReadsAsPcapOpenLivesWould) {
    const ScopedEnvironment setting(capture::kCaptureBufferVariable, "256");
    const struct {
        int status;
        int attempts;
        const char* message;
    } cases[] = {
        {PCAP_ERROR, 8, "eth9: the reason"},
        {PCAP_ERROR_NO_SUCH_DEVICE, 1, "eth9: stand-in status -5 (the reason)"},
        {PCAP_ERROR_PERM_DENIED, 1, "eth9: stand-in status -8 (the reason)"},
        {PCAP_ERROR_PROMISC_PERM_DENIED, 1, "eth9: stand-in status -11 (the reason)"},
        {PCAP_ERROR_IFACE_NOT_UP, 1, "eth9: stand-in status -9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        StandInReset();
        StandInFailOpenWithStatus(c.status, "the reason");
        std::int32_t result = 0;
        const std::string message = StandardErrorOf([&] { result = Capture("rpcap://eth9"); });
        EXPECT_EQ(result, ResultAdapterFailed);
        EXPECT_EQ(message, std::string(ApplicationName()) + ": " + c.message + "\n");
        EXPECT_EQ(StandInBufferRequestCount(), c.attempts);
        EXPECT_EQ(StandInHandlesOpen(), 0);
    }
}

TEST_F(LiveCapture, StoresOnlyFramesOfMoreThanSixtyBytes) {
    QueueFrame(Frame(60, 1));
    QueueFrame(Frame(61, 2));
    StandInQueueTimeout();
    QueueFrame(Frame(14, 3));
    QueueFrame(Frame(1514, 4));
    QueueFrame(Frame(65536, 5));
    StandInQueueCutFrame(Frame(1514, 6).data(), 100, 1514);  // only its captured bytes are stored
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 4);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), Frame(61, 2));
    EXPECT_EQ(ReadWholeFile(PacketFile(2)), Frame(1514, 4));
    EXPECT_EQ(ReadWholeFile(PacketFile(3)), Frame(65536, 5));
    EXPECT_EQ(ReadWholeFile(PacketFile(4)), Frame(100, 6));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 4);
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
    EXPECT_EQ(StandInHandlesOpen(), 0);
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
