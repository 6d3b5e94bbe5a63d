// The module over the real capture library and the real file system, with one fault put in its
// way per test: the file system fills up or turns read-only, the folder may not be written, no
// descriptor is left for the adapter, a link holds the next packet file's name, another process
// captures into the folder, the folder or the adapter goes away. Whatever the fault, the call must
// end with its documented code, leave no partial packet file and no descriptor open, and its file
// count must name exactly the complete files on disk; a host that gets ResultFileFailed finds the
// system's reason in errno. Needs root. Refused creates, short, interrupted and failed writes and
// closes are unit tests, played by the system stand-in (unit/file_faults_test.cpp).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "capture_run.h"
#include "frames.h"
#include "module_test.h"
#include "network_namespace.h"
#include "process_state.h"

namespace mirrowen::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::size_t kFrameSize = 500;

class FaultMatrix : public ModuleTest {
  protected:
    // The probes stored once the call stores frames; -1 if it never did.
    std::int32_t WaitUntilCapturingAndSettled(CaptureRun& run) const {
        const Probes probes = run.WaitUntilCapturing(*sender_);
        return probes.stored > 0 ? static_cast<std::int32_t>(probes.stored) : -1;
    }

    // Sends test frames, one every 20 ms, until the call has ended or 200 frames are out.
    std::optional<std::int32_t> SendUntilTheCallEnds(CaptureRun& run, std::size_t frameSize) const {
        for (std::uint32_t sequence = 0; sequence < 200; ++sequence) {
            sender_->Send(MakeTestFrame(frameSize, sequence));
            if (auto result = run.WaitForResult(20ms)) return result;
        }
        return run.WaitForResult(kCallLimit);
    }

    // The packet files are exactly 1.hda to <fileCount>.hda, each a whole frame as it was sent.
    static void ExpectCompleteFilesOnly(const fs::path& folder, std::int32_t fileCount) {
        std::vector<int> expected(static_cast<std::size_t>(fileCount));
        for (int number = 1; number <= fileCount; ++number) expected[number - 1] = number;
        EXPECT_EQ(PacketFileNumbers(folder), expected);
        for (int number = 1; number <= fileCount; ++number) {
            EXPECT_TRUE(IsIntactFrame(ReadWholeFile(PacketFile(folder, number))))
                << number << ".hda is not a whole frame";
        }
    }
};

TEST_F(FaultMatrix, FullFileSystemEndsWithFileFailedAndNoPartialFile) {
    const fs::path folder = scratch_.path() / "small";
    const TemporaryFileSystem small(folder, 64 * 1024);
    MakeNetwork();
    CaptureRun run = StartCapture(folder);
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
    // 64 KiB hold at most 16 pages; frames keep coming until a write finds no room.
    EXPECT_EQ(SendUntilTheCallEnds(run, 1514), ResultFileFailed);
    EXPECT_EQ(run.ErrnoAtReturn(), ENOSPC);
    EXPECT_GT(run.FileCount(), 0);
    ExpectCompleteFilesOnly(folder, run.FileCount());
}

TEST_F(FaultMatrix, ReadOnlyFileSystemRefusesAMissingFolderAndFailsTheFirstFile) {
    const fs::path mountPoint = scratch_.path() / "readonly";
    const TemporaryFileSystem readOnly(mountPoint, 64 * 1024);
    fs::create_directory(mountPoint / "existing");
    readOnly.MakeReadOnly();

    std::string missing = (mountPoint / "missing").string();
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 9;
    EXPECT_EQ(module_.function()(VethNamespace::CaptureAdapter().c_str(), nullptr, missing.data(),
                                 &stopFlag, &fileCount),
              ResultRefused);
    EXPECT_EQ(stopFlag, 7);
    EXPECT_EQ(fileCount, 9);
    EXPECT_FALSE(fs::exists(mountPoint / "missing"));

    MakeNetwork();
    CaptureRun run = StartCapture(mountPoint / "existing");
    EXPECT_EQ(SendUntilTheCallEnds(run, kFrameSize), ResultFileFailed);
    EXPECT_EQ(run.ErrnoAtReturn(), EROFS);
    EXPECT_EQ(run.FileCount(), 0);
    EXPECT_TRUE(fs::is_empty(mountPoint / "existing"));
}

// A host that may capture but not write into the folder: one whose permissions forbid writing,
// reached without root's right to pass over them.
TEST_F(FaultMatrix, FolderThatMayNotBeWrittenFailsTheFirstFileWithPermissionDenied) {
    const fs::path folder = scratch_.path() / "read-and-search-only";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    MakeNetwork();
    std::optional<CaptureRun> run;
    {
        const ScopedWithoutFileRights withoutFileRights;  // the call's thread keeps it
        run.emplace(module_.function(), VethNamespace::CaptureAdapter(), folder.string());
    }
    EXPECT_EQ(SendUntilTheCallEnds(*run, kFrameSize), ResultFileFailed);
    EXPECT_EQ(run->ErrnoAtReturn(), EACCES);
    EXPECT_EQ(run->FileCount(), 0);
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(FaultMatrix, NoDescriptorLeftForTheAdapterFailsTheOpen) {
    MakeNetwork();
    std::string folder = scratch_.path().string();
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 9;
    std::int32_t result = 0;
    // Standard error goes to a file first: the one message line must not need a descriptor.
    const std::string message = StandardErrorOf([&] {
        DescriptorExhaustion exhaustion;
        exhaustion.TakeAll();
        result = module_.function()(VethNamespace::CaptureAdapter().c_str(), nullptr, folder.data(),
                                    &stopFlag, &fileCount);
    });
    EXPECT_EQ(result, ResultAdapterFailed);
    EXPECT_EQ(stopFlag, 0);
    EXPECT_EQ(fileCount, 0);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(PacketFileNumbers(folder), std::vector<int>{});
}

// A link at the next packet file's name is not followed; the real kernel's reason reaches the
// host. A folder or a dangling link there are rows of the unit tests' table of names taken.
TEST_F(FaultMatrix, LinkAtTheNextNameEndsWithFileFailedAndLeavesTheLinkAndItsTargetAlone) {
    const fs::path folder = scratch_.path() / "captures";
    fs::create_directory(folder);
    const fs::path link = PacketFile(folder, 3);
    const fs::path outside = scratch_.path() / "precious";
    const Bytes kept = PatternBytes(10);
    WriteWholeFile(outside, kept);
    fs::create_symlink(outside, link);
    MakeNetwork();
    CaptureRun run = StartCapture(folder);
    EXPECT_EQ(SendUntilTheCallEnds(run, kFrameSize), ResultFileFailed);
    EXPECT_EQ(run.ErrnoAtReturn(), ELOOP);
    EXPECT_EQ(run.FileCount(), 2);
    ExpectCompleteFilesOnly(folder, 2);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(outside), kept);
}

// A call of Mirrowen in a child process of its own, its flag and count in memory shared with this
// one. The child is killed (SIGKILL: no clean-up of its own) and reaped by Kill or the destructor,
// and dies with this thread or after 60 s in any case.
class CaptureInAnotherProcess {
  public:
    CaptureInAnotherProcess(MirrowenFunction function, const std::string& adapter,
                            std::string folder) {
        void* page = mmap(nullptr, sizeof(HostIntegers), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) throw std::runtime_error("mmap failed");
        shared_ = new (page) HostIntegers;
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            alarm(60);
            function(adapter.c_str(), nullptr, folder.data(), &shared_->stopFlag,
                     &shared_->fileCount);
            _exit(0);
        }
    }
    ~CaptureInAnotherProcess() {
        Kill();
        munmap(shared_, sizeof(HostIntegers));
    }
    CaptureInAnotherProcess(const CaptureInAnotherProcess&) = delete;
    CaptureInAnotherProcess& operator=(const CaptureInAnotherProcess&) = delete;

    bool Running() {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;  // reaped: never killed
        return pid_ > 0;
    }
    std::int64_t FileCount() const {
        return std::atomic_ref<std::int32_t>(shared_->fileCount).load();
    }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    struct HostIntegers {
        std::int32_t stopFlag = 1;
        std::int32_t fileCount = -1;
    };
    HostIntegers* shared_ = nullptr;
    pid_t pid_ = -1;
};

// The folder is claimed by the other process's call for as long as that process lives, and given
// up by its death, however it dies.
TEST_F(FaultMatrix, FolderCapturedIntoByAnotherProcessIsRefusedUntilThatProcessIsKilled) {
    const fs::path folder = scratch_.path() / "captures";
    MakeNetwork();
    CaptureInAnotherProcess other(module_.function(), VethNamespace::CaptureAdapter(),
                                  folder.string());
    ASSERT_GT(WaitUntilCapturing(
                  *sender_, [&] { return other.Running(); }, [&] { return other.FileCount(); })
                  .stored,
              0);

    {
        // On a thread of its own, so that a call that is not refused is stopped in time.
        CaptureRun refused = StartCapture(folder);
        ASSERT_EQ(refused.WaitForResult(kCallLimit), ResultRefused);
        EXPECT_EQ(refused.ErrnoAtReturn(), EBUSY);
        EXPECT_EQ(std::atomic_ref<std::int32_t>(*refused.StopFlag()).load(), 1);
        EXPECT_EQ(refused.FileCount(), -1);
    }

    other.Kill();
    CaptureRun run = StartCapture(folder);
    EXPECT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
    run.Stop();
    EXPECT_EQ(run.WaitForResult(kCallLimit), ResultFinished);
    // Past its count, files of the killed call may remain.
    for (int number = 1; number <= run.FileCount(); ++number) {
        EXPECT_TRUE(IsIntactFrame(ReadWholeFile(PacketFile(folder, number)))) << number;
    }
}

TEST_F(FaultMatrix, FolderRemovedDuringTheCaptureEndsWithFileFailedAndIsNotRecreated) {
    const fs::path folder = scratch_.path() / "captures";
    MakeNetwork();
    CaptureRun run = StartCapture(folder);
    const std::int32_t before = WaitUntilCapturingAndSettled(run);
    ASSERT_GT(before, 0);
    fs::remove_all(folder);
    EXPECT_EQ(SendUntilTheCallEnds(run, kFrameSize), ResultFileFailed);
    EXPECT_EQ(run.ErrnoAtReturn(), ENOENT);
    EXPECT_EQ(run.FileCount(), before);
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(FaultMatrix, AdapterDeletedDuringTheCaptureIsAReadErrorAndKeepsTheFiles) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    const std::int32_t probes = WaitUntilCapturingAndSettled(run);
    ASSERT_GT(probes, 0);
    for (std::uint32_t sequence = 0; sequence < 3; ++sequence) {
        sender_->Send(MakeTestFrame(kFrameSize, sequence));
    }
    ASSERT_TRUE(run.WaitForFileCount(probes + 3));
    network_->DeleteCaptureEnd();
    EXPECT_EQ(run.WaitForResult(kCallLimit), ResultCaptureError);
    EXPECT_EQ(run.FileCount(), probes + 3);
    ExpectCompleteFilesOnly(scratch_.path(), run.FileCount());
}

// The capture library does not treat a link that goes down as an error: the call waits, with
// reads that time out, and goes on storing when the link comes up again.
TEST_F(FaultMatrix, AdapterBroughtDownDuringTheCaptureWaitsForItToComeBack) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    const std::int32_t probes = WaitUntilCapturingAndSettled(run);
    ASSERT_GT(probes, 0);
    network_->BringCaptureEndDown();
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(run.WaitForResult(0ms)) << "the call ended while the link was down";
    EXPECT_EQ(run.FileCount(), probes);

    // The link takes a moment to carry frames again; they are sent until one is stored.
    network_->BringCaptureEndUp();
    bool storedAgain = false;
    for (std::uint32_t sequence = 0; sequence < 200 && !storedAgain; ++sequence) {
        sender_->Send(MakeTestFrame(kFrameSize, sequence));
        std::this_thread::sleep_for(50ms);
        storedAgain = run.FileCount() > probes;
    }
    EXPECT_TRUE(storedAgain);
    run.Stop();
    EXPECT_EQ(run.WaitForResult(kCallLimit), ResultFinished);
    ExpectCompleteFilesOnly(scratch_.path(), run.FileCount());
}

// A host that stores its stop before the call has it overwritten by the call's reset: the capture
// runs until the stop is stored again. CaptureRun starts every call with its flag holding 1.
TEST_F(FaultMatrix, StopStoredBeforeTheCallIsOverwritten) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
    EXPECT_EQ(*run.StopFlag(), 0);
    run.Stop();
    EXPECT_EQ(run.WaitForResult(kCallLimit), ResultFinished);
}

// A stop stored while frames pour in, at some moment within the storing of one of them: every
// file the count names is whole, and no file beyond it is left.
TEST_F(FaultMatrix, StopStoredUnderFullTrafficLeavesOnlyCompleteFiles) {
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
    std::atomic<bool> sending{true};
    std::thread flood([&] {
        for (std::uint32_t sequence = 0; sequence < 100000 && sending.load(); ++sequence) {
            sender_->Send(MakeTestFrame(1000 + sequence % 500, sequence));
        }
    });
    run.WaitForFileCount(run.FileCount() + 200);
    run.Stop();
    const auto result = run.WaitForResult(kCallLimit);
    sending.store(false);
    flood.join();
    EXPECT_EQ(result, ResultFinished);
    ExpectCompleteFilesOnly(scratch_.path(), run.FileCount());
}

}  // namespace
}  // namespace mirrowen::testing
