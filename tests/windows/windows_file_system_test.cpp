// Packet files and folders as only Windows has them: files held open without sharing, and the
// 260-byte path limit, which the library checks itself because Wine would accept longer paths.
#include <gtest/gtest.h>

#include "pcap_stand_in.h"
#include "wine_test_support.h"

using namespace wine_test;

namespace {

class WindowsFileSystem : public ::testing::Test {
  protected:
    void SetUp() override { StandInReset(); }

    std::int32_t CallInto(std::vector<char>& folderPath) {
        return TheMirrowen()("rpcap://eth0", nullptr, folderPath.data(), &stopFlag, &fileCount);
    }

    // An existing folder inside the scratch folder whose path is exactly `length` bytes long.
    std::string FolderOfLength(std::size_t length) {
        std::string path = scratch.path();
        while (path.size() < length) {
            const std::size_t remaining = length - path.size() - 1;  // after the backslash
            // Never leave a remainder too short for a component of its own.
            const std::size_t component = remaining > 150 ? 100 : remaining;
            path += "\\" + std::string(component, 'd');
            if (!IsFolder(path)) MakeFolder(path);
        }
        return path;
    }

    ScratchFolder scratch;
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
};

// The library opens packet files without sharing, so a file that anybody holds open, even with
// all sharing allowed, cannot be replaced; the count stays at the file before it.
TEST_F(WindowsFileSystem, AFileHeldOpenByAnotherGives5WithTheCountOfTheFilesBefore) {
    for (const DWORD sharing : {DWORD{0}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        SCOPED_TRACE(sharing);
        StandInReset();
        WriteBytes(scratch / "4.hda", Frame(10, 1));
        const HANDLE held = CreateFileA((scratch / "4.hda").c_str(), GENERIC_READ, sharing, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        for (unsigned seed = 1; seed <= 5; ++seed) StandInQueueFrame(Frame(100, seed).data(), 100);

        std::vector<char> path = PathBuffer(scratch.path());
        EXPECT_EQ(CallInto(path), ResultFileFailed);
        CloseHandle(held);
        EXPECT_EQ(fileCount, 3);
        EXPECT_EQ(ReadBytes(scratch / "3.hda"), Frame(100, 3));
        EXPECT_EQ(ReadBytes(scratch / "4.hda"), Frame(10, 1));
        EXPECT_FALSE(Exists(scratch / "5.hda"));
        EXPECT_EQ(StandInReadCount(), 4);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

TEST_F(WindowsFileSystem, AFolderOf254To259BytesGives5AtTheFirstFrame) {
    // 253 bytes: "\1.hda" makes 259, which fits with its NUL.
    std::vector<char> fits = PathBuffer(FolderOfLength(253));
    StandInQueueFrame(Frame(100, 1).data(), 100);
    EXPECT_EQ(CallInto(fits), ResultFinished);
    EXPECT_EQ(fileCount, 1);
    EXPECT_EQ(ReadBytes(std::string(fits.data()) + "\\1.hda"), Frame(100, 1));

    for (const std::size_t length : {254u, 255u, 259u}) {
        SCOPED_TRACE(length);
        StandInReset();
        const std::string folder = FolderOfLength(length);
        std::vector<char> path = PathBuffer(folder);
        StandInQueueFrame(Frame(100, 1).data(), 100);
        EXPECT_EQ(CallInto(path), ResultFileFailed);
        EXPECT_EQ(fileCount, 0);
        EXPECT_EQ(StandInCloseCount(), 1);
        EXPECT_FALSE(Exists(folder + "\\1.hda"));
    }
}

TEST_F(WindowsFileSystem, AFolderPathOverTheLimitIsRefusedAfterTheTrim) {
    const std::string folder = FolderOfLength(259);

    std::vector<char> trimmedToFit = PathBuffer(folder + "\\");  // 260 bytes, then 259
    EXPECT_EQ(CallInto(trimmedToFit), ResultFinished);
    EXPECT_EQ(std::string(trimmedToFit.data()), folder);

    stopFlag = fileCount = 7;
    const std::string tooLong = folder.substr(0, 258) + "ee";  // 260 bytes, a missing folder
    std::vector<char> refused = PathBuffer(tooLong);
    EXPECT_EQ(CallInto(refused), ResultRefused);
    EXPECT_FALSE(Exists(tooLong));
    EXPECT_EQ(stopFlag, 7);
    EXPECT_EQ(fileCount, 7);
    EXPECT_EQ(StandInOpenCount(), 1);
}

}  // namespace
