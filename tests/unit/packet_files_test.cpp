#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

#include <atomic>
#include <filesystem>
#include <ostream>
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

// What stands at a packet file's name before the call.
enum class Obstacle {
    EarlierCallsFiles,  // 1.hda to <number>.hda, each longer than this call's frames
    Folder,
#if !defined(_WIN32)
    LinkToAFile,
    DanglingLink,
#endif
};

struct TakenName {
    const char* name;
    Obstacle obstacle;
    int number;  // the packet file whose name is taken; of an earlier call's files, the last
    bool stopAtFirstRead;
    std::int32_t result;
    std::uint32_t reason;  // the system's error code after ResultFileFailed
    std::int32_t fileCount;
    int reads;
};

void PrintTo(const TakenName& row, std::ostream* out) { *out << row.name; }

class PacketFileNameTaken : public ScriptedCapture,
                            public ::testing::WithParamInterface<TakenName> {};

// Six frames follow the obstacle. The files of an earlier call are replaced up to this call's
// count, each holding its frame and nothing of the longer one before. Anything else ends the call
// with the count before it and the system's reason, left for the host past the capture's close
// (which the stand-in makes leave an error code of its own); a link is never followed, dangling or
// not. What stands at the name is left as it was, and nothing is written past it.
TEST_P(PacketFileNameTaken, IsReplacedIfAFileOfAnEarlierCallElseLeftAsItWas) {
    const TakenName& row = GetParam();
    const fs::path taken = PacketFile(row.number);
    const fs::path outside = scratch_.path() / "precious";
    switch (row.obstacle) {
        case Obstacle::EarlierCallsFiles:
            for (int number = 1; number <= row.number; ++number) {
                QueueFrame(PatternBytes(200, number - 1u));
            }
            ASSERT_EQ(Capture(), ResultFinished);
            StandInReset();
            break;
        case Obstacle::Folder:
            fs::create_directories(taken);
            break;
#if !defined(_WIN32)
        case Obstacle::LinkToAFile:
            WriteWholeFile(outside, PatternBytes(10));
            [[fallthrough]];
        case Obstacle::DanglingLink:
            fs::create_directory(folder_);
            fs::create_symlink(outside, taken);
            break;
#endif
    }
    const fs::file_type takenType = fs::symlink_status(taken).type();
    // Through a link, its target's; a folder has none.
    const auto contents = [&taken] {
        return fs::is_regular_file(taken) ? ReadWholeFile(taken) : Bytes{};
    };
    const Bytes takenBytes = contents();
    const bool outsideExists = fs::exists(outside);
    for (unsigned i = 0; i < 6; ++i) QueueFrame(PatternBytes(100, i));
    if (row.stopAtFirstRead) {
        StandInOnRead(
            [](int readNumber, void* flag) {
                if (readNumber == 1) std::atomic_ref(*static_cast<std::int32_t*>(flag)).store(1);
            },
            &stopFlag_);
    }

    EXPECT_EQ(Capture(), row.result);
    if (row.result == ResultFileFailed) {
        EXPECT_EQ(systemError_, row.reason);
    }
    EXPECT_EQ(fileCount_, row.fileCount);
    EXPECT_EQ(StandInReadCount(), row.reads);
    EXPECT_EQ(StandInCloseCount(), 1);
    for (int number = 1; number <= row.fileCount; ++number) {
        EXPECT_EQ(ReadWholeFile(PacketFile(number)), PatternBytes(100, number - 1u)) << number;
    }
    EXPECT_EQ(fs::symlink_status(taken).type(), takenType);
    EXPECT_EQ(contents(), takenBytes);
    EXPECT_EQ(fs::exists(outside), outsideExists);
    EXPECT_FALSE(fs::exists(fs::symlink_status(PacketFile(row.number + 1))));
}

const TakenName kTakenNames[] = {
    {"FilesOfAnEarlierCall", Obstacle::EarlierCallsFiles, 7, false, ResultFinished, 0, 6, 7},
    {"Folder", Obstacle::Folder, 4, false, ResultFileFailed, kFolderAtTheName, 3, 4},
    {"FolderMetByTheReadThatSawTheStop", Obstacle::Folder, 1, true, ResultFileFailed,
     kFolderAtTheName, 0, 1},
#if !defined(_WIN32)
    {"LinkToAFile", Obstacle::LinkToAFile, 2, false, ResultFileFailed, ELOOP, 1, 2},
    {"DanglingLink", Obstacle::DanglingLink, 3, false, ResultFileFailed, ELOOP, 2, 3},
#endif
};

INSTANTIATE_TEST_SUITE_P(Obstacles, PacketFileNameTaken, ::testing::ValuesIn(kTakenNames),
                         [](const auto& info) { return std::string(info.param.name); });

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
