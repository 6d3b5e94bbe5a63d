// The runs that CI repeats under valgrind's memcheck, which must report no error and no block
// definitely lost: a capture of 10,000 frames, and calls ending with each result code, by each
// way the library has of failing a packet file. The
// module is loaded as a host loads it, over the real capture library. Needs root.
#include <csignal>
#include <filesystem>
#include <optional>
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

// Under valgrind everything runs some tens of times slower.
constexpr auto kCallLimitUnderValgrind = 6 * kCallLimit;

class Memcheck : public ModuleTest {
  protected:
    std::int32_t Call(const std::string& adapter, const fs::path& folder) const {
        return CallToItsEnd(adapter, folder.string()).result;
    }
};

TEST_F(Memcheck, CaptureOfTenThousandFrames) {
    constexpr std::uint32_t kFrames = 10000;
    constexpr std::uint32_t kBatch = 50;  // sent at once; the capture keeps up between batches
    MakeNetwork();
    CaptureRun run = StartCapture(scratch_.path());
    ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
    std::this_thread::sleep_for(500ms);  // probes still on their way
    const std::int32_t probes = run.FileCount();
    for (std::uint32_t sequence = 0; sequence < kFrames; sequence += kBatch) {
        for (std::uint32_t offset = 0; offset < kBatch; ++offset) {
            sender_->Send(MakeTestFrame(61 + (sequence + offset) % 1400, sequence + offset));
        }
        ASSERT_TRUE(run.WaitForFileCount(probes + static_cast<std::int32_t>(sequence + kBatch)))
            << "frames lost at " << sequence;
    }
    run.Stop();
    EXPECT_EQ(run.WaitForResult(kCallLimitUnderValgrind), ResultFinished);
    EXPECT_EQ(run.FileCount(), probes + static_cast<std::int32_t>(kFrames));
}

TEST_F(Memcheck, EveryResultCode) {
    EXPECT_EQ(Call("r", scratch_.path()), ResultRefused);
    EXPECT_EQ(Call(VethNamespace::CaptureAdapter(), scratch_.path() / "missing" / "child"),
              ResultRefused);
    EXPECT_EQ(Call(AdapterName("mirrowen-none0"), scratch_.path()), ResultAdapterFailed);
    EXPECT_EQ(Call(AdapterName("any"), scratch_.path()), ResultNotEthernet);

    MakeNetwork();
    {
        const fs::path blocked = scratch_.path() / "blocked";
        fs::create_directories(PacketFile(blocked, 1));
        CaptureRun run = StartCapture(blocked);
        std::optional<std::int32_t> result;
        for (std::uint32_t sequence = 0; sequence < 100 && !result; ++sequence) {
            sender_->Send(MakeTestFrame(100, sequence));
            result = run.WaitForResult(100ms);
        }
        EXPECT_EQ(result, ResultFileFailed);
    }
    {
        // A write cut short by the file-size limit: the short file is removed.
        const fs::path limited = scratch_.path() / "limited";
        CaptureRun run = StartCapture(limited);
        ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
        const ScopedSignalHandler ignoreFileSizeSignal(SIGXFSZ, SIG_IGN);
        const ScopedResourceLimit fileSize(RLIMIT_FSIZE, 1000);
        sender_->Send(MakeTestFrame(1400, 0));
        EXPECT_EQ(run.WaitForResult(kCallLimitUnderValgrind), ResultFileFailed);
    }
    {
        CaptureRun run = StartCapture(scratch_.path());
        ASSERT_GT(run.WaitUntilCapturing(*sender_).stored, 0);
        network_->DeleteCaptureEnd();
        EXPECT_EQ(run.WaitForResult(kCallLimitUnderValgrind), ResultCaptureError);
    }
}

}  // namespace
}  // namespace mirrowen::testing
