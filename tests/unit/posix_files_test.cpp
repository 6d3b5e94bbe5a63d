// Files and folders as only POSIX has them: nanosecond modification times, a symbolic link to the
// folder (links at a packet file's name are rows of packet_files_test's table), the umask, and the
// backslash as an ordinary byte of a name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

// Sets the process's umask for as long as it lives.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : previous_(umask(mask)) {}
    ~ScopedUmask() { umask(previous_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

  private:
    mode_t previous_;
};

// The folder the call creates gets what mkdir gives it under the host's umask: every permission
// the umask leaves.
TEST_F(PosixFiles, ACreatedFolderGetsThePermissionsTheUmaskAllows) {
    for (const mode_t mask : {mode_t{0}, mode_t{027}}) {
        SCOPED_TRACE(mask);
        const ScopedUmask scopedMask(mask);
        std::string folder = (scratch_.path() / ("caps-" + std::to_string(mask))).string();
        ASSERT_EQ(CaptureInto(folder), ResultFinished);
        struct stat status {};
        ASSERT_EQ(stat(folder.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0777 & ~mask);
    }
}

// A symbolic link to a folder names that folder: it is used, not created again, and the packet
// files go where it points.
TEST_F(PosixFiles, ALinkToAFolderIsAcceptedAsTheFolder) {
    fs::create_directory(folder_);
    std::string link = (scratch_.path() / "link").string();
    fs::create_directory_symlink(folder_, link);
    QueueFrame(PatternBytes(100, 1));
    EXPECT_EQ(CaptureInto(link), ResultFinished);
    EXPECT_EQ(fileCount_, 1);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(100, 1));
    EXPECT_TRUE(fs::is_symlink(link));
}

// A time the system refuses (here nanoseconds past a whole second, which futimens rejects) is no
// failure: that file keeps the time it was written, the frame is stored and counted, and the next
// file gets its own time.
TEST_F(PosixFiles, AFileTimeTheSystemRefusesDoesNotCostTheFrame) {
    constexpr std::uint32_t kRefusedNanoseconds = 1'000'000'000;
    {
        const fs::path probe = scratch_.path() / "probe";
        std::ofstream(probe) << "x";
        const int file = open(probe.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(file, 0);
        const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, kRefusedNanoseconds}};
        EXPECT_NE(futimens(file, times), 0)
            << "the time must be refused for this test to mean much";
        EXPECT_EQ(errno, EINVAL);
        close(file);
    }
    const auto written = std::chrono::system_clock::now() - std::chrono::seconds(1);
    const Bytes first = PatternBytes(100, 1);
    const Bytes second = PatternBytes(120, 2);
    StandInQueueFrameAt(first.data(), 100, 1700000000, kRefusedNanoseconds);
    StandInQueueFrameAt(second.data(), 120, 1700000001, 5);
    ASSERT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 2);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), first);
    EXPECT_EQ(ReadWholeFile(PacketFile(2)), second);
    struct stat status {};
    ASSERT_EQ(stat(PacketFile(1).c_str(), &status), 0);
    EXPECT_GE(status.st_mtim.tv_sec, std::chrono::system_clock::to_time_t(written));
    ASSERT_EQ(stat(PacketFile(2).c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1700000001);
    EXPECT_EQ(status.st_mtim.tv_nsec, 5);
}

}  // namespace
}  // namespace mirrowen::testing
