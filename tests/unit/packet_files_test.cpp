#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "packetfile/packet_files.h"
#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

using PacketFiles = ScriptedCapture;

TEST(PacketFileName, IsFolderSeparatorNumberAndExtensionWithinTheBuffer) {
    char name[32];
    ASSERT_TRUE(packetfile::FormatPacketFileName("caps", 1, name, sizeof name));
    EXPECT_STREQ(name, "caps/1.hda");
    ASSERT_TRUE(packetfile::FormatPacketFileName("c", 2147483647, name, sizeof name));
    EXPECT_STREQ(name, "c/2147483647.hda");

    // "caps/12345.hda" is 14 bytes: 15 with the NUL fit, 14 do not.
    char exact[15];
    EXPECT_TRUE(packetfile::FormatPacketFileName("caps", 12345, exact, sizeof exact));
    char canary[15 + 1] = {};
    canary[14] = 'X';
    EXPECT_FALSE(packetfile::FormatPacketFileName("caps", 12345, canary, 14));
    EXPECT_EQ(canary[14], 'X');
}

TEST_F(PacketFiles, EveryCallNumbersFromOneAndLeavesHigherOldFilesAlone) {
    for (unsigned i = 0; i < 5; ++i) QueueFrame(Frame(100, i));
    ASSERT_EQ(Capture(), ResultFinished);
    for (unsigned i = 0; i < 3; ++i) QueueFrame(Frame(200, 10 + i));
    ASSERT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 3);
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(ReadWholeFile(PacketFile(number)),
                  Frame(200, 10 + static_cast<unsigned>(number) - 1));
    }
    EXPECT_EQ(ReadWholeFile(PacketFile(4)), Frame(100, 3));
    EXPECT_EQ(ReadWholeFile(PacketFile(5)), Frame(100, 4));
}

// The file's modification time is the frame's capture time, to the nanosecond; its access time and
// its bytes are left as writing them made them.
TEST_F(PacketFiles, EachFileCarriesItsFramesCaptureTime) {
    const timespec captured[] = {{1700000000, 123456789}, {1700000000, 173456789}, {2000000000, 0}};
    for (unsigned i = 0; i < 3; ++i) {
        const auto frame = Frame(100 + i, i);
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
        EXPECT_EQ(ReadWholeFile(PacketFile(static_cast<int>(i) + 1)), Frame(100 + i, i));
    }
}

TEST_F(PacketFiles, ALinkAtAPacketFileNameIsNotFollowed) {
    fs::create_directory(folder_);
    const fs::path target = scratch_.path() / "precious";
    std::ofstream(target) << "must survive";
    fs::create_symlink(target, PacketFile(2));
    QueueFrame(Frame(100, 1));
    QueueFrame(Frame(100, 2));
    EXPECT_EQ(Capture(), ResultFileFailed);
    EXPECT_EQ(fileCount_, 1);
    EXPECT_TRUE(fs::is_symlink(PacketFile(2)));
    const auto kept = ReadWholeFile(target);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "must survive");
}

TEST_F(PacketFiles, ANameBeyondThePathLimitCannotBeCreated) {
    // A folder path of 4093 bytes fits; "<folder>/1.hda" (4099 bytes) does not.
    std::string folder = scratch_.path().string();
    if ((4093 - folder.size()) % 2 != 0) folder += "/";
    while (folder.size() < 4093) folder += "/.";
    QueueFrame(Frame(100));
    EXPECT_EQ(CaptureInto(folder), ResultFileFailed);
    EXPECT_EQ(fileCount_, 0);
    EXPECT_FALSE(fs::exists(scratch_.path() / "1.hda"));
}

}  // namespace
}  // namespace mirrowen::testing
