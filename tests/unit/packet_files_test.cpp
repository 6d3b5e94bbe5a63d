#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

#include <filesystem>
#include <string>

#include "packetfile/packet_files.h"
#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

// What the system answers where a folder stands at a file's name, and for a name that is too long.
#if defined(_WIN32)
constexpr std::uint32_t kFolderAtTheName = ERROR_ACCESS_DENIED;
constexpr std::uint32_t kNameTooLong = ERROR_FILENAME_EXCED_RANGE;
#else
constexpr std::uint32_t kFolderAtTheName = EISDIR;
constexpr std::uint32_t kNameTooLong = ENAMETOOLONG;
#endif

using PacketFiles = ScriptedCapture;

TEST(PacketFileName, IsFolderSeparatorNumberAndExtensionWithinTheBuffer) {
    char name[32];
    ASSERT_TRUE(packetfile::FormatPacketFileName("caps", 1, name, sizeof name));
    EXPECT_EQ(std::string(name), "caps" + kSeparatorText + PacketFileName(1));
    ASSERT_TRUE(packetfile::FormatPacketFileName("c", 2147483647, name, sizeof name));
    EXPECT_EQ(std::string(name), "c" + kSeparatorText + PacketFileName(2147483647));

    // "caps/12345.hda" is 14 bytes: 15 with the NUL fit, 14 do not.
    char exact[15];
    EXPECT_TRUE(packetfile::FormatPacketFileName("caps", 12345, exact, sizeof exact));
    char canary[15 + 1] = {};
    canary[14] = 'X';
    EXPECT_FALSE(packetfile::FormatPacketFileName("caps", 12345, canary, 14));
    EXPECT_EQ(canary[14], 'X');
}

// The second call's frames are shorter: a file it replaces holds its frame and nothing of the
// longer one before.
TEST_F(PacketFiles, EveryCallNumbersFromOneAndLeavesHigherOldFilesAlone) {
    for (unsigned i = 0; i < 5; ++i) QueueFrame(PatternBytes(200, i));
    ASSERT_EQ(Capture(), ResultFinished);
    for (unsigned i = 0; i < 3; ++i) QueueFrame(PatternBytes(100, 10 + i));
    ASSERT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 3);
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(ReadWholeFile(PacketFile(number)),
                  PatternBytes(100, 10 + static_cast<unsigned>(number) - 1));
    }
    EXPECT_EQ(ReadWholeFile(PacketFile(4)), PatternBytes(200, 3));
    EXPECT_EQ(ReadWholeFile(PacketFile(5)), PatternBytes(200, 4));
}

// The system's reason is left for the host, past the capture's close (which the stand-in makes
// leave an error code of its own).
TEST_F(PacketFiles, AFileThatCannotBeCreatedEndsTheCallWithTheCountBeforeItAndTheReason) {
    fs::create_directories(PacketFile(4));  // a directory holds the name of file 4
    for (unsigned i = 0; i < 6; ++i) QueueFrame(PatternBytes(100, i));
    EXPECT_EQ(Capture(), ResultFileFailed);
    EXPECT_EQ(systemError_, kFolderAtTheName);
    EXPECT_EQ(fileCount_, 3);
    EXPECT_EQ(StandInReadCount(), 4);
    EXPECT_EQ(StandInCloseCount(), 1);
    EXPECT_TRUE(fs::is_directory(PacketFile(4)));
    EXPECT_FALSE(fs::exists(PacketFile(5)));
}

// The packet file's name must fit the path limit with its NUL.
TEST_F(PacketFiles, ANameBeyondThePathLimitCannotBeCreated) {
    const fs::path fits = FolderOfLength(scratch_.path(), platform::kPathLimit - 7);
    std::string folder = fits.string();
    QueueFrame(PatternBytes(100));
    EXPECT_EQ(CaptureInto(folder), ResultFinished);
    EXPECT_EQ(ReadWholeFile(testing::PacketFile(fits, 1)), PatternBytes(100));

    StandInReset();
    const fs::path tooLong = FolderOfLength(scratch_.path(), platform::kPathLimit - 6);
    folder = tooLong.string();
    QueueFrame(PatternBytes(100));
    EXPECT_EQ(CaptureInto(folder), ResultFileFailed);
    EXPECT_EQ(systemError_, kNameTooLong);
    EXPECT_EQ(fileCount_, 0);
    EXPECT_EQ(StandInCloseCount(), 1);
    EXPECT_TRUE(fs::is_empty(tooLong));
}

}  // namespace
}  // namespace mirrowen::testing
