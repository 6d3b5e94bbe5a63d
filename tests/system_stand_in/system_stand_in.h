// A stand-in for the operating system's file calls and poll, for tests on Linux: the unit test
// program is linked with the linker's --wrap for open, write, close and poll, so that the
// library's own calls come here. Each passes through to the real call unless a test armed a fault
// for the file at hand, so GoogleTest's own files and the test's checks are never touched. The
// library's futimens and unlink are left alone: a refused time is no failure, and the removal is
// seen on disk.
//
// The faults are process-wide; tests that use them run one capture at a time.
#pragma once

#include <vector>

namespace system_stand_in {

enum class Fault {
    CreateRefused,             // the open fails with EMFILE
    CreateInterrupted,         // the first open fails with EINTR, the next succeeds
    WriteInterrupted,          // the first write fails with EINTR, the next ones pass
    WriteCutShort,             // the first write takes only half of the bytes, the next ones pass
    WriteCutShortThenNoSpace,  // the first write takes half, the next fails with ENOSPC
    CloseFails,                // the close releases the descriptor but reports EIO
};

// The next file opened whose path ends with `pathEnd` meets `fault`, once.
void Arm(const char* pathEnd, Fault fault);
// How many armed faults were met: a test whose fault was never met proves nothing.
int FaultsMet();
// From now on, the timeout of every poll that waits on `descriptor` is recorded.
void RecordPollsOn(int descriptor);
const std::vector<int>& PollTimeouts();
// Forgets the faults, the descriptors they follow, the count and the recorded polls.
void Reset();

}  // namespace system_stand_in
