// What only Windows has, with the real Mirrowen.dll over the scripted wpcap.dll: files held open
// without sharing, writes and closes that fail, a folder search that matches wildcards, file
// times as FILETIME, and the driver's buffer set after the open with pcap_setbuff. The rest of the
// library's behaviour is the shared unit test list's, which runs here too.
#include <windows.h>

#include <gtest/gtest.h>

#include "import_patch.h"
#include "pcap_stand_in.h"
#include "wine_test_support.h"

namespace mirrowen::testing {
namespace {

// Faults that a real disk gives only when it is full or failing, met by the DLL's calls of
// WriteFile and CloseHandle on disk files (its packet files are its only ones), which reach these
// stand-ins through its import table: the armed call meets the fault, every other call is the
// system's own.
enum class FileFault { kShortWrite, kFailedWrite, kFailedClose };
struct ArmedFileFault {
    FileFault fault = FileFault::kShortWrite;
    int callNumber = 0;  // 0: none armed
    int calls = 0;
    bool met = false;

    // Counts a call of this kind on `file`; true when it is the one armed.
    bool Meets(bool armedKind, HANDLE file) {
        if (!armedKind || callNumber == 0 || GetFileType(file) != FILE_TYPE_DISK) return false;
        if (++calls != callNumber) return false;
        met = true;
        return true;
    }
};
ArmedFileFault armedFault;

BOOL WINAPI WriteFileMeetingFaults(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                                   LPOVERLAPPED overlapped) {
    const bool writeFault = armedFault.fault != FileFault::kFailedClose;
    if (!armedFault.Meets(writeFault, file)) {
        return WriteFile(file, bytes, size, written, overlapped);
    }
    if (armedFault.fault == FileFault::kShortWrite) {  // the disk took only half
        return WriteFile(file, bytes, size / 2, written, overlapped);
    }
    if (written != nullptr) *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The handle is closed all the same, as when the flush of a close fails: only the report fails.
BOOL WINAPI CloseHandleMeetingFaults(HANDLE handle) {
    const bool failing = armedFault.Meets(armedFault.fault == FileFault::kFailedClose, handle);
    const BOOL closed = CloseHandle(handle);
    if (!failing) return closed;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

class WindowsOnly : public ::testing::Test {
  protected:
    void SetUp() override { StandInReset(); }

    std::int32_t CallInto(const std::filesystem::path& folder) {
        std::vector<char> path = PathBuffer(folder.string());
        return TheMirrowen()(AdapterName("eth0").c_str(), nullptr, path.data(), &stopFlag,
                             &fileCount);
    }
    static void QueueFrame(const Bytes& frame) {
        StandInQueueFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
    }

    TemporaryFolder scratch;
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
};

// The library opens packet files without sharing, so a file that anybody holds open, even with
// all sharing allowed, cannot be replaced; the count stays at the file before it, and the last
// error says why.
TEST_F(WindowsOnly, AFileHeldOpenByAnotherGives5WithTheCountOfTheFilesBefore) {
    for (const DWORD sharing : {DWORD{0}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        SCOPED_TRACE(sharing);
        StandInReset();
        WriteWholeFile(PacketFile(scratch.path(), 4), PatternBytes(10, 1));
        const HANDLE held =
            CreateFileA(PacketFile(scratch.path(), 4).string().c_str(), GENERIC_READ, sharing,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        for (unsigned seed = 1; seed <= 5; ++seed) QueueFrame(PatternBytes(100, seed));

        const std::int32_t result = CallInto(scratch.path());
        const DWORD reason = GetLastError();
        CloseHandle(held);
        EXPECT_EQ(result, ResultFileFailed);
        EXPECT_EQ(reason, DWORD{ERROR_SHARING_VIOLATION});
        EXPECT_EQ(fileCount, 3);
        EXPECT_EQ(ReadWholeFile(PacketFile(scratch.path(), 3)), PatternBytes(100, 3));
        EXPECT_EQ(ReadWholeFile(PacketFile(scratch.path(), 4)), PatternBytes(10, 1));
        EXPECT_FALSE(std::filesystem::exists(PacketFile(scratch.path(), 5)));
        EXPECT_EQ(StandInReadCount(), 4);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

// A packet file that does not reach the disk whole ends the call with 5, whether its write falls
// short or fails or its close fails: the file is removed (a short one would read as a shorter
// frame), the count stays at the file before it, and no handle stays open.
TEST_F(WindowsOnly, AShortOrFailedWriteOrAFailedCloseGives5AndRemovesTheFile) {
    ASSERT_NE(TheMirrowen(), nullptr);
    const HMODULE dll = GetModuleHandleA("Mirrowen.dll");
    ASSERT_NE(dll, nullptr);
    const ImportPatch write(dll, "KERNEL32.dll", "WriteFile",
                            reinterpret_cast<void*>(&WriteFileMeetingFaults));
    const ImportPatch close(dll, "KERNEL32.dll", "CloseHandle",
                            reinterpret_cast<void*>(&CloseHandleMeetingFaults));
    for (const FileFault fault :
         {FileFault::kShortWrite, FileFault::kFailedWrite, FileFault::kFailedClose}) {
        SCOPED_TRACE(static_cast<int>(fault));
        StandInReset();
        const TemporaryFolder folder;
        const std::size_t handlesBefore = OpenDescriptorCount();
        armedFault = {.fault = fault, .callNumber = 3};
        for (unsigned seed = 1; seed <= 5; ++seed) QueueFrame(PatternBytes(100, seed));

        EXPECT_EQ(CallInto(folder.path()), ResultFileFailed);
        const bool met = armedFault.met;
        armedFault = {};
        EXPECT_TRUE(met);
        EXPECT_EQ(fileCount, 2);
        EXPECT_EQ(PacketFileNumbers(folder.path()), (std::vector<int>{1, 2}));
        EXPECT_EQ(ReadWholeFile(PacketFile(folder.path(), 2)), PatternBytes(100, 2));
        EXPECT_EQ(OpenDescriptorCount(), handlesBefore);
        EXPECT_EQ(StandInReadCount(), 3);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

// The folder search takes the path as it stands, so wildcards in it match: two matches pass as a
// folder (and nothing is created), a single match that is a file does not.
TEST_F(WindowsOnly, AWildcardPathMatchingTwoEntriesPassesTheFolderTest) {
    WriteWholeFile(scratch.path() / "abc", {1});
    WriteWholeFile(scratch.path() / "abd", {2});
    EXPECT_EQ(CallInto(scratch.path() / "ab?"), ResultFinished);
    EXPECT_EQ(StandInOpenCount(), 1);

    QueueFrame(PatternBytes(100, 3));
    EXPECT_EQ(CallInto(scratch.path() / "ab*"), ResultFileFailed);  // "ab*\1.hda" cannot be made
    EXPECT_EQ(fileCount, 0);

    EXPECT_EQ(CallInto(scratch.path() / "abc*"), ResultRefused);
    EXPECT_EQ(StandInOpenCount(), 2);
}

// The capture library reports microseconds; FILETIME counts 100 ns since 1601.
TEST_F(WindowsOnly, EachFileCarriesItsFramesCaptureTime) {
    const Bytes frame = PatternBytes(100, 1);
    StandInQueueFrameAt(frame.data(), 100, 1700000000, 123456000);
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    ASSERT_TRUE(GetFileAttributesExA(PacketFile(scratch.path(), 1).string().c_str(),
                                     GetFileExInfoStandard, &attributes));
    const std::uint64_t written = (std::uint64_t{attributes.ftLastWriteTime.dwHighDateTime} << 32) |
                                  attributes.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, (1700000000ULL + 11644473600ULL) * 10000000ULL + 1234560ULL);
    EXPECT_EQ(ReadWholeFile(PacketFile(scratch.path(), 1)), frame);
}

// After the open the driver is asked for the operator's buffer size, then for half of what it
// refuses, down to 2 MiB; a driver that refuses every size leaves the capture as it was.
TEST_F(WindowsOnly, AsksTheDriverForTheCaptureBufferAndHalvesWhatItRefuses) {
    constexpr int kMiB = 1 << 20;
    ASSERT_TRUE(SetEnvironmentVariableA("MIRROWEN_CAPTURE_BUFFER_MB", "64"));
    StandInRefuseBuffersAbove(20 * kMiB);
    QueueFrame(PatternBytes(100, 1));
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(fileCount, 1);
    ASSERT_EQ(StandInBufferRequestCount(), 3);
    EXPECT_EQ(StandInBufferRequest(0), 64 * kMiB);
    EXPECT_EQ(StandInBufferRequest(2), 16 * kMiB);

    StandInReset();
    StandInRefuseBuffersAbove(0);
    QueueFrame(PatternBytes(100, 2));
    EXPECT_EQ(CallInto(scratch.path()), ResultFinished);
    EXPECT_EQ(fileCount, 1);
    ASSERT_EQ(StandInBufferRequestCount(), 6);  // 64 MiB down to 2 MiB
    EXPECT_EQ(StandInBufferRequest(5), 2 * kMiB);
    SetEnvironmentVariableA("MIRROWEN_CAPTURE_BUFFER_MB", nullptr);
}

}  // namespace
}  // namespace mirrowen::testing
