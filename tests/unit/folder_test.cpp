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
    std::string folder = folder_.string() + "/";
    QueueFrame(Frame(64));
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_STREQ(folder.c_str(), folder_.c_str());
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), Frame(64));
}

TEST_F(OutputFolder, OfTwoTrailingSeparatorsOnlyTheLastIsCut) {
    // "caps//" becomes "caps/", which still names the folder; it is created and used.
    std::string folder = folder_.string() + "//";
    QueueFrame(Frame(64));
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_STREQ(folder.c_str(), (folder_.string() + "/").c_str());
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), Frame(64));

    std::string again = folder_.string() + "//";
    EXPECT_EQ(CaptureInto(again), ResultFinished) << "an existing folder named so is found";
}

TEST_F(OutputFolder, ABackslashIsAnOrdinaryByteHere) {
    std::string folder = folder_.string() + "\\";
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_EQ(folder, folder_.string() + "\\");
    EXPECT_TRUE(fs::is_directory(folder));
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
    std::ofstream(folder_) << "not a folder";
    EXPECT_EQ(Capture(), ResultRefused);
    EXPECT_EQ(stopFlag_, 1);
    EXPECT_EQ(fileCount_, -1);
}

// A path to scratch_ padded with "/." components to exactly `length` bytes; the same folder.
std::string PaddedPath(const fs::path& folder, std::size_t length) {
    std::string path = folder.string();
    if ((length - path.size()) % 2 != 0) path += "/";
    while (path.size() < length) path += "/.";
    return path;
}

TEST_F(OutputFolder, ATrimmedPathMustFitThePathLimit) {
    std::string longest = PaddedPath(scratch_.path(), 4095);
    EXPECT_EQ(CaptureInto(longest), ResultFinished) << "4095 bytes and the NUL fit";

    std::string tooLong = PaddedPath(scratch_.path(), 4096);
    EXPECT_EQ(CaptureInto(tooLong), ResultRefused);
    EXPECT_EQ(StandInOpenCount(), 1);
}

}  // namespace
}  // namespace mirrowen::testing
