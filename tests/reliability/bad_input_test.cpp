// Odd folder paths and adapter names handed to the module as a host loads it, over the real
// capture library and file system (the arguments' checks, the trim, missing parents, files in the
// way and the path limit are the unit tests' tables; "one/" here is the trim in the real module).
// A refused call (code 2) must leave the host's flag, count and folder buffer as they were (the
// trim aside) and create nothing; an accepted one must use exactly the folder named. A missing
// adapter makes an accepted call end with 3 right after the folder step, so most rows need no
// traffic. Needs root for the rows that capture.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "capture_run.h"
#include "frames.h"
#include "network_namespace.h"
#include "process_state.h"

namespace mirrowen::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kMissingAdapter = AdapterName("mirrowen-none0");
constexpr std::int32_t kHostFlag = 7;
constexpr std::int32_t kHostCount = 9;

class BadInput : public ::testing::Test {
  protected:
    struct Outcome {
        std::int32_t result;
        std::string folderAfter;
        std::int32_t stopFlag;
        std::int32_t fileCount;
    };

    // Calls the module with the host's integers holding 7 and 9 and a missing adapter, whose
    // message line is left out of the test's output.
    Outcome Call(std::string folder, const std::string& adapter = kMissingAdapter) const {
        Outcome outcome{0, {}, kHostFlag, kHostCount};
        StandardErrorOf([&] {
            outcome.result = module_.function()(adapter.c_str(), nullptr, folder.data(),
                                                &outcome.stopFlag, &outcome.fileCount);
        });
        outcome.folderAfter = folder.c_str();
        return outcome;
    }

    static void ExpectRefusedAndUntouched(const Outcome& outcome, const std::string& folderAfter) {
        SCOPED_TRACE(folderAfter);
        EXPECT_EQ(outcome.result, ResultRefused);
        EXPECT_EQ(outcome.folderAfter, folderAfter);
        EXPECT_EQ(outcome.stopFlag, kHostFlag);
        EXPECT_EQ(outcome.fileCount, kHostCount);
    }

    static void ExpectAccepted(const Outcome& outcome, const std::string& folderAfter) {
        SCOPED_TRACE(folderAfter);
        EXPECT_EQ(outcome.result, ResultAdapterFailed);
        EXPECT_EQ(outcome.folderAfter, folderAfter);
        EXPECT_EQ(outcome.stopFlag, 0);
        EXPECT_EQ(outcome.fileCount, 0);
    }

    const LoadedModule module_{MIRROWEN_MODULE_PATH};
    const TemporaryFolder scratch_;
};

TEST_F(BadInput, RelativeDottedAndSeparatorEndedFoldersNameExactlyWhatTheySay) {
    const ScopedWorkingDirectory inScratch(scratch_.path());
    fs::create_directory("existing");

    ExpectAccepted(Call("one/"), "one");
    EXPECT_TRUE(fs::is_directory("one"));
    ExpectAccepted(Call("./"), ".");
    ExpectAccepted(Call(".."), "..");
    ExpectAccepted(Call("../"), "..");
    ExpectAccepted(Call("//"), "/");
    ExpectAccepted(Call("existing/../three"), "existing/../three");
    EXPECT_TRUE(fs::is_directory("three"));
    ExpectAccepted(Call("caps-\xff\xfe\x80"), "caps-\xff\xfe\x80");
    EXPECT_TRUE(fs::is_directory("caps-\xff\xfe\x80"));

    ExpectRefusedAndUntouched(Call("missing/../four"), "missing/../four");
    EXPECT_FALSE(fs::exists("missing"));
    EXPECT_FALSE(fs::exists("four"));
}

TEST_F(BadInput, OddAdapterNamesFailTheOpen) {
    std::string folder = scratch_.path().string();
    for (const std::string& adapter :
         {std::string("ab"), AdapterName(""), AdapterName("\xff\xfe\x80"),
          AdapterName(std::string(300, 'n'))}) {
        ExpectAccepted(Call(folder, adapter), folder);
    }
    EXPECT_TRUE(fs::is_empty(scratch_.path()));
}

class BadInputCapture : public BadInput {
  protected:
    void SetUp() override {
        if (const std::string why = WhyLiveCapturesCannotRun(); !why.empty()) GTEST_SKIP() << why;
    }
};

TEST_F(BadInputCapture, RelativeAndNonUtf8FoldersReceiveThePacketFiles) {
    const ScopedWorkingDirectory inScratch(scratch_.path());
    const VethNamespace network;
    const FrameSender sender(VethNamespace::kSendEnd);
    for (const std::string folder : {"relative/", "caps-\xff\xfe\x80"}) {
        CaptureRun run(module_.function(), VethNamespace::CaptureAdapter(), folder);
        ASSERT_GT(run.WaitUntilCapturing(sender).stored, 0) << folder;
        run.Stop();
        ASSERT_EQ(run.WaitForResult(10s), ResultFinished);
        const fs::path stored = PacketFile(scratch_.path() / folder, 1);
        EXPECT_TRUE(IsIntactFrame(ReadWholeFile(stored))) << stored;
    }
}

}  // namespace
}  // namespace mirrowen::testing
