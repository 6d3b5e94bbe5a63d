#include <filesystem>
#include <fstream>
#include <string>

#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

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
