// Bad arguments and odd folder paths handed to the module as a host loads it. A refused call
// (code 2) must leave the host's flag, count and folder buffer as they were (the trim aside, once
// validation has passed) and create nothing; an accepted one must use exactly the folder named.
// A missing adapter makes an accepted call end with 3 right after the folder step, so most rows
// need no traffic. Needs root for the rows that capture.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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

constexpr char kMissingAdapter[] = "rpcap://mirrowen-none0";
constexpr std::size_t kPathLimit = 4096;  // with the NUL
constexpr std::int32_t kHostFlag = 7;
constexpr std::int32_t kHostCount = 9;

// Sends the process's standard error to /dev/null while it lives: every accepted call below
// prints the missing adapter's one message line.
class QuietStandardError {
  public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStandardError() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    int saved_;
};

// An existing folder under `base` whose absolute path is exactly `length` bytes long.
fs::path FolderOfLength(const fs::path& base, std::size_t length) {
    std::string path = base.string();
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;  // after the next '/'
        // Components of at most 200 bytes, and never a last one of 0 bytes.
        const std::size_t component = room > 200 ? (room - 200 < 2 ? 150 : 200) : room;
        path += '/' + std::string(component, 'd');
    }
    fs::create_directories(path);
    return path;
}

class BadInput : public ::testing::Test {
  protected:
    struct Outcome {
        std::int32_t result;
        std::string folderAfter;
        std::int32_t stopFlag;
        std::int32_t fileCount;
    };

    // Calls the module with the host's integers holding 7 and 9 and a missing adapter.
    Outcome Call(std::string folder, const char* adapter = kMissingAdapter) const {
        const QuietStandardError quiet;
        Outcome outcome{0, {}, kHostFlag, kHostCount};
        outcome.result = module_.function()(adapter, nullptr, folder.data(), &outcome.stopFlag,
                                            &outcome.fileCount);
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

TEST_F(BadInput, EveryValidationFailureIsRefusedWithNothingTouched) {
    const ScopedWorkingDirectory inScratch(scratch_.path());
    const auto function = module_.function();
    std::int32_t stopFlag = kHostFlag;
    std::int32_t fileCount = kHostCount;
    // A missing folder with a trailing separator: neither trimmed nor created when refused.
    std::string folder = "created/";
    const auto expectNothingTouched = [&] {
        EXPECT_EQ(stopFlag, kHostFlag);
        EXPECT_EQ(fileCount, kHostCount);
        EXPECT_EQ(folder, "created/");
        EXPECT_TRUE(fs::is_empty(scratch_.path()));
    };
    for (const char* adapter : {static_cast<const char*>(nullptr), "", "r"}) {
        EXPECT_EQ(function(adapter, nullptr, folder.data(), &stopFlag, &fileCount), ResultRefused);
        expectNothingTouched();
    }
    for (const char* shortFolder : {"", "a", "/"}) {
        std::string buffer = shortFolder;
        EXPECT_EQ(function(kMissingAdapter, nullptr, buffer.data(), &stopFlag, &fileCount),
                  ResultRefused);
        EXPECT_EQ(buffer, shortFolder);
        expectNothingTouched();
    }
    EXPECT_EQ(function(kMissingAdapter, nullptr, nullptr, &stopFlag, &fileCount), ResultRefused);
    EXPECT_EQ(function(kMissingAdapter, nullptr, folder.data(), nullptr, &fileCount),
              ResultRefused);
    EXPECT_EQ(function(kMissingAdapter, nullptr, folder.data(), &stopFlag, nullptr), ResultRefused);
    expectNothingTouched();
}

TEST_F(BadInput, RelativeDottedAndSeparatorEndedFoldersNameExactlyWhatTheySay) {
    const ScopedWorkingDirectory inScratch(scratch_.path());
    fs::create_directory("existing");
    std::ofstream("plain") << "a file";

    ExpectAccepted(Call("one/"), "one");
    EXPECT_TRUE(fs::is_directory("one"));
    ExpectAccepted(Call("two//"), "two/");
    EXPECT_TRUE(fs::is_directory("two"));
    ExpectAccepted(Call("./"), ".");
    ExpectAccepted(Call(".."), "..");
    ExpectAccepted(Call("../"), "..");
    ExpectAccepted(Call("//"), "/");
    ExpectAccepted(Call("existing/../three"), "existing/../three");
    EXPECT_TRUE(fs::is_directory("three"));
    ExpectAccepted(Call("caps-\xff\xfe\x80"), "caps-\xff\xfe\x80");
    EXPECT_TRUE(fs::is_directory("caps-\xff\xfe\x80"));

    ExpectRefusedAndUntouched(Call("."), ".");  // one byte: fails validation
    ExpectRefusedAndUntouched(Call("missing/child/"), "missing/child");
    ExpectRefusedAndUntouched(Call("missing/../four"), "missing/../four");
    ExpectRefusedAndUntouched(Call("plain"), "plain");
    ExpectRefusedAndUntouched(Call("plain/"), "plain");
    EXPECT_FALSE(fs::exists("missing"));
    EXPECT_FALSE(fs::exists("four"));
}

TEST_F(BadInput, FoldersAtAndJustPastThePathLimit) {
    const fs::path longest = FolderOfLength(scratch_.path(), kPathLimit - 1);
    ASSERT_EQ(longest.string().size(), kPathLimit - 1);
    const std::string tooLong = longest.string() + "x";

    ExpectAccepted(Call(longest.string()), longest.string());
    ExpectAccepted(Call(longest.string() + "/"), longest.string());
    ExpectRefusedAndUntouched(Call(tooLong), tooLong);
    // The trim comes first, so the buffer comes back one byte shorter, and still too long.
    ExpectRefusedAndUntouched(Call(tooLong + "/"), tooLong);
    std::error_code tooLongToLookUp;
    EXPECT_FALSE(fs::exists(tooLong, tooLongToLookUp));
}

TEST_F(BadInput, OddAdapterNamesFailTheOpen) {
    std::string folder = scratch_.path().string();
    for (const std::string& adapter :
         {std::string("ab"), std::string("rpcap://"), std::string("rpcap://\xff\xfe\x80"),
          std::string("rpcap://") + std::string(300, 'n')}) {
        ExpectAccepted(Call(folder, adapter.c_str()), folder);
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
        ASSERT_TRUE(run.WaitUntilCapturing(sender)) << folder;
        run.Stop();
        ASSERT_EQ(run.WaitForResult(10s), ResultFinished);
        const fs::path stored = scratch_.path() / folder / "1.hda";
        EXPECT_TRUE(IsIntactFrame(ReadWholeFile(stored))) << stored;
    }
}

// With a folder of 4089 bytes, "/9.hda" still fits the 4096 bytes of a path and "/10.hda" does
// not: nine files are stored, and the tenth ends the call.
TEST_F(BadInputCapture, PacketFileNamesPastThePathLimitEndWithFileFailed) {
    const fs::path folder = FolderOfLength(scratch_.path(), kPathLimit - 7);
    const VethNamespace network;
    const FrameSender sender(VethNamespace::kSendEnd);
    CaptureRun run(module_.function(), VethNamespace::CaptureAdapter(), folder);
    std::optional<std::int32_t> result;
    for (std::uint32_t sequence = 0; sequence < 200 && !result; ++sequence) {
        sender.Send(MakeTestFrame(100, sequence));
        result = run.WaitForResult(20ms);
    }
    if (!result) result = run.WaitForResult(10s);
    EXPECT_EQ(result, ResultFileFailed);
    EXPECT_EQ(run.FileCount(), 9);
    EXPECT_EQ(PacketFileNumbers(folder), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

}  // namespace
}  // namespace mirrowen::testing
