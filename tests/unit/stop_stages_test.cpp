// A stop stored by the host at each stage of one call, over the scripted capture library, which
// lets the test store it exactly while a given capture library call is under way. Whatever the
// stage, the handle is closed once, at most the frame of the read under way is stored after the
// stop, and the count names exactly the complete files. The stop met by a packet file that cannot
// be created is a row of packet_files_test's table of names taken.
#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

// What the read under way answers when the stop is stored.
enum class ReadAnswer { None, Timeout, StoredFrame, SkippedFrame, Error, End };

struct Stage {
    const char* name;
    ReadAnswer answer;  // None: the stop is stored while the adapter is being opened
    std::int32_t result;
    std::int32_t fileCount;
    int reads;
};

// Any nonzero value stops the call, which leaves the host's value as it was stored.
constexpr std::int32_t kStop = 5;

void PrintTo(const Stage& stage, std::ostream* out) { *out << stage.name; }

void StoreStop(std::int32_t* stopFlag) {
    std::atomic_ref<std::int32_t>(*stopFlag).store(kStop, std::memory_order_release);
}

class StopStage : public ScriptedCapture, public ::testing::WithParamInterface<Stage> {};

TEST_P(StopStage, EndsTheCallWithoutLosingOrCorruptingAFile) {
    const Stage& stage = GetParam();
    const std::vector<unsigned char> frame(stage.answer == ReadAnswer::SkippedFrame ? 60 : 61, 7);
    switch (stage.answer) {
        case ReadAnswer::None:
            StandInOnOpen([](void* flag) { StoreStop(static_cast<std::int32_t*>(flag)); },
                          &stopFlag_);
            break;
        case ReadAnswer::Timeout:
            StandInQueueTimeout();
            break;
        case ReadAnswer::StoredFrame:
        case ReadAnswer::SkippedFrame:
            StandInQueueFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
            break;
        case ReadAnswer::Error:
            StandInQueueResult(-1);
            break;
        case ReadAnswer::End:
            StandInQueueResult(-2);
            break;
    }
    // Frames that only a missed stop would read.
    for (int spare = 0; spare < 3; ++spare) {
        StandInQueueFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
    }
    if (stage.answer != ReadAnswer::None) {
        StandInOnRead(
            [](int readNumber, void* flag) {
                if (readNumber == 1) StoreStop(static_cast<std::int32_t*>(flag));
            },
            &stopFlag_);
    }

    EXPECT_EQ(Capture(), stage.result);
    EXPECT_EQ(stopFlag_, kStop);
    EXPECT_EQ(fileCount_, stage.fileCount);
    EXPECT_EQ(StandInReadCount(), stage.reads);
    EXPECT_EQ(StandInOpenCount(), 1);
    EXPECT_EQ(StandInCloseCount(), 1);
    std::vector<int> expected;
    for (int number = 1; number <= stage.fileCount; ++number) expected.push_back(number);
    EXPECT_EQ(PacketFileNumbers(folder_), expected);
    for (const int number : expected) EXPECT_EQ(ReadWholeFile(PacketFile(number)), frame);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, StopStage,
    ::testing::Values(
        Stage{"WhileTheAdapterOpens", ReadAnswer::None, ResultFinished, 0, 0},
        Stage{"DuringAReadThatTimesOut", ReadAnswer::Timeout, ResultFinished, 0, 1},
        Stage{"DuringAReadOfAFrameToStore", ReadAnswer::StoredFrame, ResultFinished, 1, 1},
        Stage{"DuringAReadOfAFrameToSkip", ReadAnswer::SkippedFrame, ResultFinished, 0, 1},
        Stage{"DuringAReadThatFails", ReadAnswer::Error, ResultCaptureError, 0, 1},
        Stage{"DuringAReadAtTheEnd", ReadAnswer::End, ResultFinished, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mirrowen::testing
