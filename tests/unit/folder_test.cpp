#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What a call into a folder that another call is capturing into finds as the system's reason.
#if defined(_WIN32)
constexpr std::uint32_t kFolderInUse = ERROR_SHARING_VIOLATION;
#else
constexpr std::uint32_t kFolderInUse = EBUSY;
#endif

using OutputFolder = ScriptedCapture;

TEST_F(OutputFolder, OneTrailingSeparatorIsCutOffInTheCallersBuffer) {
    fs::create_directory(folder_);
    std::string folder = folder_.string() + kSeparatorText;
    QueueFrame(PatternBytes(64));
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_EQ(std::string(folder.c_str()), folder_.string());
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(64));
}

// "caps//" becomes "caps/", which still names the folder; missing, it is created and used. Once it
// exists, POSIX finds it by that name; Windows' search for a name ending in a separator finds
// nothing, and a folder that cannot be created again is refused.
TEST_F(OutputFolder, OfTwoTrailingSeparatorsOnlyTheLastIsCut) {
    const std::string twoSeparators = folder_.string() + kSeparatorText + kSeparatorText;
    std::string folder = twoSeparators;
    QueueFrame(PatternBytes(64));
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_EQ(std::string(folder.c_str()), folder_.string() + kSeparatorText);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(64));

    std::string again = twoSeparators;
    stopFlag_ = 1;
    const bool found = platform::kSeparator == '/';
    EXPECT_EQ(CaptureInto(again), found ? ResultFinished : ResultRefused);
    EXPECT_EQ(std::string(again.c_str()), folder_.string() + kSeparatorText);
    EXPECT_EQ(stopFlag_, found ? 0 : 1);
}

TEST_F(OutputFolder, AMissingFolderIsCreatedButNotItsParents) {
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_TRUE(fs::is_directory(folder_));

    std::string deep = (scratch_.path() / "a" / "b").string();
    EXPECT_EQ(CaptureInto(deep), ResultRefused);
    EXPECT_FALSE(fs::exists(scratch_.path() / "a"));
}

TEST_F(OutputFolder, AnExistingFolderKeepsItsContents) {
    fs::create_directory(folder_);
    std::ofstream(folder_ / "notes.txt") << "kept";
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(ReadWholeFile(folder_ / "notes.txt").size(), 4U);
}

TEST_F(OutputFolder, APathNamingAFileIsRefused) {
    WriteWholeFile(folder_, {1});
    EXPECT_EQ(Capture(), ResultRefused);
    EXPECT_EQ(stopFlag_, 1);
    EXPECT_EQ(fileCount_, -1);
    EXPECT_EQ(ReadWholeFile(folder_), Bytes{1});
    EXPECT_EQ(StandInOpenCount(), 0);
}

// A call that has stored one frame is held in its next read while a second call is made into its
// folder, from the folder itself as the process's working folder (a host started there).
TEST_F(OutputFolder, AFolderBeingCapturedIntoIsRefusedUntilThatCallEnds) {
    struct HeldRead {
        std::atomic<bool> reached{false};
        std::atomic<bool> released{false};
    } held;
    StandInOnRead(
        [](int readNumber, void* context) {
            auto& held = *static_cast<HeldRead*>(context);
            if (readNumber != 2) return;
            held.reached = true;
            for (int waits = 0; waits < 10000 && !held.released; ++waits) {
                std::this_thread::sleep_for(1ms);
            }
        },
        &held);
    QueueFrame(PatternBytes(64));
    QueueFrame(PatternBytes(64, 1));
    fs::create_directory(folder_);
    const fs::path workingFolder = fs::current_path();
    fs::current_path(folder_);

    std::int32_t firstResult = 0;
    std::int32_t firstStopFlag = 1;
    std::int32_t firstFileCount = -1;
    std::thread first([&] {
        std::string folder = folder_.string();
        firstResult = Mirrowen(AdapterName("eth0").c_str(), nullptr, folder.data(), &firstStopFlag,
                               &firstFileCount);
    });
    for (int waits = 0; waits < 10000 && !held.reached; ++waits) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(held.reached);
    // Only calls are shut out: the folder is listed and its file read meanwhile.
    EXPECT_EQ(PacketFileNumbers(folder_), std::vector<int>{1});
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(64));
    EXPECT_EQ(Capture(), ResultRefused);
    EXPECT_EQ(systemError_, kFolderInUse);
    EXPECT_EQ(stopFlag_, 1);
    EXPECT_EQ(fileCount_, -1);
    EXPECT_EQ(StandInOpenCount(), 1);
    held.released = true;
    first.join();
    EXPECT_EQ(firstResult, ResultFinished);
    EXPECT_EQ(firstFileCount, 2);

    QueueFrame(PatternBytes(64, 2));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 1);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(64, 2));
    fs::current_path(workingFolder);
}

// The path limit counts the trimmed path with its NUL; the trim comes first.
TEST_F(OutputFolder, ATrimmedPathMustFitThePathLimit) {
    const std::string longest = FolderOfLength(scratch_.path(), platform::kPathLimit - 1).string();
    std::string fits = longest + kSeparatorText;
    EXPECT_EQ(CaptureInto(fits), ResultFinished);
    EXPECT_EQ(std::string(fits.c_str()), longest);

    const std::string tooLong = longest.substr(0, longest.size() - 1) + "ee";
    for (std::string folder : {tooLong, tooLong + kSeparatorText}) {
        stopFlag_ = 1;
        EXPECT_EQ(CaptureInto(folder), ResultRefused);
        EXPECT_EQ(std::string(folder.c_str()), tooLong);
        EXPECT_EQ(stopFlag_, 1);
    }
    std::error_code tooLongToLookUp;
    EXPECT_FALSE(fs::exists(tooLong, tooLongToLookUp));
    EXPECT_EQ(StandInOpenCount(), 1);
}

}  // namespace
}  // namespace mirrowen::testing
