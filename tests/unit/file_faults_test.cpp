// The library's file and wait calls meeting faults that a real file system gives only to root, to
// a full tmpfs or under a resource limit, armed through the system stand-in (Linux only).
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "scripted_capture.h"
#include "system_stand_in.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;
using system_stand_in::Fault;

class FileFaults : public ScriptedCapture {
  protected:
    void SetUp() override {
        ScriptedCapture::SetUp();
        system_stand_in::Reset();
    }
    void TearDown() override {
        system_stand_in::Reset();
        ScriptedCapture::TearDown();
    }
};

TEST_F(FileFaults, InterruptedCallsAndShortWritesStillStoreWholeCountedFiles) {
    system_stand_in::Arm("/1.hda", Fault::CreateInterrupted);
    system_stand_in::Arm("/2.hda", Fault::WriteInterrupted);
    system_stand_in::Arm("/3.hda", Fault::WriteCutShort);
    for (unsigned i = 0; i < 4; ++i) QueueFrame(PatternBytes(1514, i));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(system_stand_in::FaultsMet(), 3);
    EXPECT_EQ(fileCount_, 4);
    for (int number = 1; number <= 4; ++number) {
        EXPECT_EQ(ReadWholeFile(PacketFile(number)), PatternBytes(1514, number - 1u)) << number;
    }
}

// A file that cannot be created, written whole or closed ends the call; it is not left behind (a
// short one would read as a shorter frame), the count stays at the file before it, nothing stays
// open, and errno holds the failed call's reason past the removal and the capture's close.
TEST_F(FileFaults, AFileThatFailsEndsTheCallUncountedAndRemovedWithItsReason) {
    const std::pair<Fault, int> faults[] = {{Fault::CreateRefused, EMFILE},
                                            {Fault::WriteCutShortThenNoSpace, ENOSPC},
                                            {Fault::CloseFails, EIO}};
    for (const auto& [fault, reason] : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        StandInReset();
        system_stand_in::Reset();
        fs::remove_all(folder_);
        system_stand_in::Arm("/2.hda", fault);
        for (unsigned i = 0; i < 3; ++i) QueueFrame(PatternBytes(1514, i));
        EXPECT_EQ(Capture(), ResultFileFailed);
        EXPECT_EQ(systemError_, static_cast<std::uint32_t>(reason));
        EXPECT_EQ(system_stand_in::FaultsMet(), 1);
        EXPECT_EQ(fileCount_, 1);
        EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(1514, 0));
        EXPECT_FALSE(fs::exists(PacketFile(2)));
        EXPECT_EQ(StandInReadCount(), 2);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

// While no frame comes, the wait between non-blocking reads is cut into polls of at most 100 ms,
// so that a stop on an idle adapter is seen soon. The offered descriptor is always ready: what is
// checked is the timeout asked for, not how long anything took.
TEST_F(FileFaults, TheIdleWaitIsCutIntoSlicesOfAtMost100Ms) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(write(ready[1], "x", 1), 1);
    StandInOfferSelectableDescriptor(ready[0]);
    system_stand_in::RecordPollsOn(ready[0]);
    for (int i = 0; i < 4; ++i) StandInQueueTimeout();
    QueueFrame(PatternBytes(100));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 1);
    EXPECT_FALSE(system_stand_in::PollTimeouts().empty());
    for (const int timeoutMs : system_stand_in::PollTimeouts()) {
        EXPECT_GT(timeoutMs, 0);
        EXPECT_LE(timeoutMs, 100);
    }
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
}  // namespace mirrowen::testing
