// Files and folders as only POSIX has them: nanosecond modification times, symbolic links, and the
// backslash as an ordinary byte of a name.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

using PosixFiles = ScriptedCapture;

TEST_F(PosixFiles, ABackslashIsAnOrdinaryByteOfTheFolderName) {
    std::string folder = folder_.string() + "\\";
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_EQ(folder, folder_.string() + "\\");
    EXPECT_TRUE(fs::is_directory(folder));
}

// The file's modification time is the frame's capture time, to the nanosecond; its access time and
// its bytes are left as writing them made them.
TEST_F(PosixFiles, EachFileCarriesItsFramesCaptureTime) {
    const timespec captured[] = {{1700000000, 123456789}, {1700000000, 173456789}, {2000000000, 0}};
    for (unsigned i = 0; i < 3; ++i) {
        const auto frame = PatternBytes(100 + i, i);
        StandInQueueFrameAt(frame.data(), static_cast<std::uint32_t>(frame.size()),
                            captured[i].tv_sec, static_cast<std::uint32_t>(captured[i].tv_nsec));
    }
    ASSERT_EQ(Capture(), ResultFinished);
    for (unsigned i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        struct stat status {};
        ASSERT_EQ(stat(PacketFile(static_cast<int>(i) + 1).c_str(), &status), 0);
        EXPECT_EQ(status.st_mtim.tv_sec, captured[i].tv_sec);
        EXPECT_EQ(status.st_mtim.tv_nsec, captured[i].tv_nsec);
        EXPECT_NE(status.st_atim.tv_sec, captured[i].tv_sec);
        EXPECT_EQ(ReadWholeFile(PacketFile(static_cast<int>(i) + 1)), PatternBytes(100 + i, i));
    }
}

TEST_F(PosixFiles, ALinkAtAPacketFileNameIsNotFollowed) {
    fs::create_directory(folder_);
    const fs::path target = scratch_.path() / "precious";
    std::ofstream(target) << "must survive";
    fs::create_symlink(target, PacketFile(2));
    QueueFrame(PatternBytes(100, 1));
    QueueFrame(PatternBytes(100, 2));
    EXPECT_EQ(Capture(), ResultFileFailed);
    EXPECT_EQ(fileCount_, 1);
    EXPECT_TRUE(fs::is_symlink(PacketFile(2)));
    const auto kept = ReadWholeFile(target);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "must survive");
}

}  // namespace
}  // namespace mirrowen::testing
