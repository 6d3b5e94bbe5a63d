// The behaviour of the real Mirrowen.dll on Windows, over the scripted wpcap.dll: arguments,
// folder preparation with backslashes, result codes, packet files and the stop flag.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "pcap_stand_in.h"
#include "wine_test_support.h"

using namespace wine_test;

namespace {

class Behaviour : public ::testing::Test {
  protected:
    void SetUp() override { StandInReset(); }

    std::int32_t Call(const char* adapterName, std::vector<char>& folderPath) {
        return TheMirrowen()(adapterName, nullptr, folderPath.data(), &stopFlag, &fileCount);
    }
    std::int32_t CallInto(const std::string& folder) {
        std::vector<char> path = PathBuffer(folder);
        return Call("rpcap://eth0", path);
    }

    ScratchFolder scratch;
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
};

TEST_F(Behaviour, RefusesBadArgumentsAndChangesNothing) {
    MakeFolder(scratch / "caps");
    const std::string folder = scratch / "caps\\";
    struct Case {
        const char* what;
        const char* adapterName;
        const char* folderPath;
        bool stopFlag;
        bool fileCount;
    } cases[] = {
        {"null adapter name", nullptr, folder.c_str(), true, true},
        {"empty adapter name", "", folder.c_str(), true, true},
        {"one-byte adapter name", "r", folder.c_str(), true, true},
        {"null folder path", "rpcap://eth0", nullptr, true, true},
        {"one-byte folder path", "rpcap://eth0", "\\", true, true},
        {"null stop flag", "rpcap://eth0", folder.c_str(), false, true},
        {"null file count", "rpcap://eth0", folder.c_str(), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> path;
        if (c.folderPath != nullptr) path = PathBuffer(c.folderPath);
        stopFlag = 7;
        fileCount = 7;
        EXPECT_EQ(
            TheMirrowen()(c.adapterName, nullptr, c.folderPath ? path.data() : nullptr,
                          c.stopFlag ? &stopFlag : nullptr, c.fileCount ? &fileCount : nullptr),
            ResultRefused);
        if (c.folderPath != nullptr) {
            EXPECT_STREQ(path.data(), c.folderPath);
        }
        EXPECT_EQ(stopFlag, 7);
        EXPECT_EQ(fileCount, 7);
    }
    EXPECT_EQ(StandInOpenCount(), 0);
}

TEST_F(Behaviour, CutsOneTrailingBackslashAndUsesTheExistingFolder) {
    MakeFolder(scratch / "caps");
    WriteBytes(scratch / "caps\\kept.txt", {1, 2, 3});
    std::vector<char> path = PathBuffer(scratch / "caps\\");
    const auto frame = Frame(100, 1);
    StandInQueueFrame(frame.data(), 100);

    EXPECT_EQ(Call("rpcap://eth0", path), ResultFinished);
    EXPECT_EQ(std::string(path.data()), scratch / "caps");
    EXPECT_EQ(ReadBytes(scratch / "caps\\1.hda"), frame);
    EXPECT_EQ(ReadBytes(scratch / "caps\\kept.txt"), (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_EQ(stopFlag, 0);
    EXPECT_EQ(fileCount, 1);
}

// Of two trailing backslashes one stays, and a search on a path ending in a backslash finds
// nothing: an existing folder so named is refused (it cannot be created again), a missing one is
// created and used.
TEST_F(Behaviour, TwoTrailingBackslashesLeaveOneThatTheFolderSearchDoesNotFind) {
    MakeFolder(scratch / "existing");
    std::vector<char> existing = PathBuffer(scratch / "existing\\\\");
    EXPECT_EQ(Call("rpcap://eth0", existing), ResultRefused);
    EXPECT_EQ(std::string(existing.data()), scratch / "existing\\");
    EXPECT_EQ(stopFlag, 7);
    EXPECT_EQ(fileCount, 7);

    std::vector<char> missing = PathBuffer(scratch / "missing\\\\");
    const auto frame = Frame(61, 2);
    StandInQueueFrame(frame.data(), 61);
    EXPECT_EQ(Call("rpcap://eth0", missing), ResultFinished);
    EXPECT_EQ(std::string(missing.data()), scratch / "missing\\");
    EXPECT_TRUE(IsFolder(scratch / "missing"));
    EXPECT_EQ(ReadBytes(scratch / "missing\\1.hda"), frame);
    EXPECT_EQ(fileCount, 1);
}

TEST_F(Behaviour, CreatesAMissingFolderButNeverItsParent) {
    EXPECT_EQ(CallInto(scratch / "new"), ResultFinished);
    EXPECT_TRUE(IsFolder(scratch / "new"));

    EXPECT_EQ(CallInto(scratch / "absent\\new"), ResultRefused);
    EXPECT_FALSE(Exists(scratch / "absent"));
    EXPECT_EQ(StandInOpenCount(), 1);
}

TEST_F(Behaviour, AnOrdinaryFileIsNoFolder) {
    WriteBytes(scratch / "file", {1});
    EXPECT_EQ(CallInto(scratch / "file"), ResultRefused);
    EXPECT_EQ(ReadBytes(scratch / "file"), std::vector<unsigned char>{1});
    EXPECT_EQ(StandInOpenCount(), 0);
}

// The folder search takes the path as it stands, so wildcards in it match: two matches pass as a
// folder (and nothing is created), a single match that is a file does not.
TEST_F(Behaviour, AWildcardPathMatchingTwoEntriesPassesTheFolderTest) {
    WriteBytes(scratch / "abc", {1});
    WriteBytes(scratch / "abd", {2});
    EXPECT_EQ(CallInto(scratch / "ab?"), ResultFinished);
    EXPECT_EQ(StandInOpenCount(), 1);

    const auto frame = Frame(100, 3);
    StandInQueueFrame(frame.data(), 100);
    EXPECT_EQ(CallInto(scratch / "ab*"), ResultFileFailed);  // "ab*\1.hda" cannot be created
    EXPECT_EQ(fileCount, 0);

    EXPECT_EQ(CallInto(scratch / "abc*"), ResultRefused);
    EXPECT_EQ(StandInOpenCount(), 2);
}

TEST_F(Behaviour, OpensTheAdapterNameWithoutItsFirstEightBytes) {
    const struct {
        const char* adapterName;
        const char* device;
    } cases[] = {{"rpcap://\\Device\\NPF_{1234}", "\\Device\\NPF_{1234}"},
                 {"XXXXXXXXeth1", "eth1"},
                 {"rpcap://", ""},
                 {"ab", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.adapterName);
        std::vector<char> path = PathBuffer(scratch.path());
        EXPECT_EQ(Call(c.adapterName, path), ResultFinished);
        EXPECT_STREQ(StandInOpenedDevice(), c.device);
        EXPECT_EQ(StandInOpenedSnapshotLength(), 65536);
        EXPECT_EQ(StandInOpenedPromiscuous(), 1);
        EXPECT_EQ(StandInOpenedTimeoutMs(), 200);
    }
}

// After the open the driver is asked for the operator's buffer size, then for half of what it
// refuses, down to 2 MiB; a driver that refuses every size leaves the capture as it was.
TEST_F(Behaviour, AsksTheDriverForTheCaptureBufferAndHalvesWhatItRefuses) {
    constexpr int kMiB = 1 << 20;
    ASSERT_TRUE(SetEnvironmentVariableA("MIRROWEN_CAPTURE_BUFFER_MB", "64"));
    StandInRefuseBuffersAbove(20 * kMiB);
    StandInQueueFrame(Frame(100, 1).data(), 100);
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(fileCount, 1);
    ASSERT_EQ(StandInBufferRequestCount(), 3);
    EXPECT_EQ(StandInBufferRequest(0), 64 * kMiB);
    EXPECT_EQ(StandInBufferRequest(2), 16 * kMiB);

    StandInReset();
    StandInRefuseBuffersAbove(0);
    StandInQueueFrame(Frame(100, 2).data(), 100);
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(fileCount, 1);
    ASSERT_EQ(StandInBufferRequestCount(), 6);  // 64 MiB down to 2 MiB
    EXPECT_EQ(StandInBufferRequest(5), 2 * kMiB);
    SetEnvironmentVariableA("MIRROWEN_CAPTURE_BUFFER_MB", nullptr);
}

// The capture library reports microseconds; FILETIME counts 100 ns since 1601.
TEST_F(Behaviour, EachFileCarriesItsFramesCaptureTime) {
    const auto frame = Frame(100, 1);
    StandInQueueFrameAt(frame.data(), 100, 1700000000, 123456000);
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    ASSERT_TRUE(
        GetFileAttributesExA((scratch / "1.hda").c_str(), GetFileExInfoStandard, &attributes));
    const std::uint64_t written = (std::uint64_t{attributes.ftLastWriteTime.dwHighDateTime} << 32) |
                                  attributes.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, (1700000000ULL + 11644473600ULL) * 10000000ULL + 1234560ULL);
    EXPECT_EQ(ReadBytes(scratch / "1.hda"), frame);
}

TEST_F(Behaviour, ALinkOtherThanEthernetGives4AfterClosingTheCapture) {
    StandInSetLinkType(105);  // 802.11
    stopFlag = 1;
    EXPECT_EQ(CallInto(scratch.path()), ResultNotEthernet);
    EXPECT_EQ(stopFlag, 0);
    EXPECT_EQ(fileCount, 0);
    EXPECT_EQ(StandInOpenCount(), 1);
    EXPECT_EQ(StandInCloseCount(), 1);
    EXPECT_EQ(StandInReadCount(), 0);
}

TEST_F(Behaviour, StoresEachFrameOverSixtyBytesByteForByteInTheNextNumberedFile) {
    const auto skipped = Frame(60, 1);
    const auto first = Frame(61, 2);
    const auto second = Frame(1514, 3);
    const auto third = Frame(65536, 4);
    StandInQueueFrame(skipped.data(), 60);
    StandInQueueFrame(first.data(), 61);
    StandInQueueTimeout();
    StandInQueueFrame(second.data(), 1514);
    StandInQueueFrame(skipped.data(), 1);
    StandInQueueFrame(third.data(), 65536);

    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(fileCount, 3);
    EXPECT_EQ(ReadBytes(scratch / "1.hda"), first);
    EXPECT_EQ(ReadBytes(scratch / "2.hda"), second);
    EXPECT_EQ(ReadBytes(scratch / "3.hda"), third);
    EXPECT_FALSE(Exists(scratch / "4.hda"));
    EXPECT_FALSE(Exists(scratch / "0.hda"));
    EXPECT_EQ(StandInReadCount(), 7);  // the seventh read ends the packets
    EXPECT_EQ(StandInCloseCount(), 1);
}

TEST_F(Behaviour, ReplacesEarlierPacketFilesFromOneAndLeavesTheRest) {
    for (int number = 1; number <= 5; ++number) {
        WriteBytes(scratch / (std::to_string(number) + ".hda"), Frame(500, 100 + number));
    }
    for (unsigned seed = 1; seed <= 3; ++seed) StandInQueueFrame(Frame(70, seed).data(), 70);

    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(fileCount, 3);
    for (unsigned seed = 1; seed <= 3; ++seed) {
        EXPECT_EQ(ReadBytes(scratch / (std::to_string(seed) + ".hda")), Frame(70, seed));
    }
    EXPECT_EQ(ReadBytes(scratch / "4.hda"), Frame(500, 104));
    EXPECT_EQ(ReadBytes(scratch / "5.hda"), Frame(500, 105));
}

TEST_F(Behaviour, AReadErrorGives6AndKeepsTheFilesWritten) {
    StandInQueueFrame(Frame(80, 1).data(), 80);
    StandInQueueFrame(Frame(90, 2).data(), 90);
    StandInQueueResult(-1);
    StandInQueueFrame(Frame(90, 3).data(), 90);

    EXPECT_EQ(CallInto(scratch.path()), ResultCaptureError);
    EXPECT_EQ(fileCount, 2);
    EXPECT_EQ(ReadBytes(scratch / "2.hda"), Frame(90, 2));
    EXPECT_FALSE(Exists(scratch / "3.hda"));
    EXPECT_EQ(StandInCloseCount(), 1);
}

TEST_F(Behaviour, AnyOtherNegativeReadEndsWith1) {
    for (const int result : {-2, -3, -100}) {
        StandInReset();
        StandInQueueFrame(Frame(80, 1).data(), 80);
        StandInQueueResult(result);
        EXPECT_EQ(CallInto(scratch.path()), ResultFinished) << result;
        EXPECT_EQ(fileCount, 1);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

// A stop stored before the call is overwritten by the reset; one stored from another thread
// while the reads go on ends the call after the current read.
TEST_F(Behaviour, AStopFromAnotherThreadEndsTheCaptureWith1) {
    constexpr int kQueuedTimeouts = 5000;
    for (int i = 0; i < kQueuedTimeouts; ++i) StandInQueueTimeout();
    std::atomic<int> reads{0};
    StandInOnRead(
        [](int, void* context) {
            ++*static_cast<std::atomic<int>*>(context);
            Sleep(1);
        },
        &reads);
    stopFlag = 1;

    std::int32_t result = 0;
    std::thread capture([&] { result = CallInto(scratch.path()); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (reads < 3 && std::chrono::steady_clock::now() < deadline) Sleep(1);
    StoreShared(stopFlag, 1);
    capture.join();

    EXPECT_EQ(result, ResultFinished);
    EXPECT_GE(StandInReadCount(), 3);
    EXPECT_LT(StandInReadCount(), kQueuedTimeouts);
    EXPECT_EQ(StandInCloseCount(), 1);
}

TEST_F(Behaviour, AStopStoredAfterTheResetEndsTheCaptureBeforeAnyRead) {
    StandInOnOpen([](void* flag) { StoreShared(*static_cast<std::int32_t*>(flag), 1); }, &stopFlag);
    StandInQueueFrame(Frame(100, 1).data(), 100);
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(StandInReadCount(), 0);
    EXPECT_EQ(StandInCloseCount(), 1);
    EXPECT_EQ(fileCount, 0);
}

// Read from another thread while frames are stored, the count only ever names a file that has
// all of its bytes.
TEST_F(Behaviour, TheCountNeverNamesAFileStillBeingWritten) {
    constexpr int kFrames = 300;
    constexpr std::size_t kFrameSize = 4000;
    for (int i = 0; i < kFrames; ++i) StandInQueueFrame(Frame(kFrameSize, 1).data(), kFrameSize);
    fileCount = 0;

    std::atomic<bool> done{false};
    std::atomic<int> checks{0};
    int incomplete = 0;
    std::thread watcher([&] {
        while (!done) {
            const std::int32_t count = LoadShared(fileCount);
            if (count <= 0) continue;
            WIN32_FILE_ATTRIBUTE_DATA data;
            const std::string name = scratch / (std::to_string(count) + ".hda");
            if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) ||
                data.nFileSizeLow != kFrameSize) {
                ++incomplete;
            }
            ++checks;
        }
    });
    // Halfway through, the capture waits (bounded) until the watcher has looked at least once,
    // so that a busy machine cannot leave the watcher nothing to check.
    StandInOnRead(
        [](int readNumber, void* context) {
            if (readNumber != kFrames / 2) return;
            const auto* checks = static_cast<std::atomic<int>*>(context);
            for (int waitedMs = 0; *checks == 0 && waitedMs < 10000; ++waitedMs) Sleep(1);
        },
        &checks);
    const std::int32_t result = CallInto(scratch.path());
    done = true;
    watcher.join();

    EXPECT_EQ(result, ResultFinished);
    EXPECT_EQ(fileCount, kFrames);
    EXPECT_GT(checks, 0);
    EXPECT_EQ(incomplete, 0);
}

}  // namespace
