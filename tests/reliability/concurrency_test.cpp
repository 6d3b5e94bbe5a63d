// Calls that run at the same time, hosts that read the count as fast as they can, and a stop
// stored from a signal handler: the module as a host loads it, over the real capture library, on
// veth pairs in namespaces of the test's own. Built and run under ThreadSanitizer in CI, which
// fails the run on any data race. Needs root.
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

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

class Concurrency : public ModuleTest {};

// Each capture has a namespace, a veth pair, a folder and a range of frame numbers of its own,
// and must end up with exactly its own frames, none of another's.
TEST_F(Concurrency, SeveralCallsAtOnceKeepToTheirOwnAdapterAndFolder) {
    constexpr int kCaptures = 3;
    constexpr std::uint32_t kFrames = 300;
    constexpr std::size_t kFrameSize = 200;
    std::array<TemporaryFolder, kCaptures> folders;
    std::array<std::atomic<CaptureRun*>, kCaptures> runs{};
    std::array<std::int32_t, kCaptures> results{};
    std::array<bool, kCaptures> allStored{};
    std::atomic<bool> readersDone{false};
    std::atomic<int> capturesDone{0};

    std::vector<std::thread> captures;
    for (int index = 0; index < kCaptures; ++index) {
        captures.emplace_back([&, index] {
            const VethNamespace network;
            const FrameSender sender(VethNamespace::kSendEnd);
            {
                CaptureRun run(module_.function(), VethNamespace::CaptureAdapter(),
                               folders[index].path());
                runs[index].store(&run);
                if (run.WaitUntilCapturing(sender).stored > 0) {
                    const std::int32_t probes = run.FileCount();
                    const std::uint32_t first = static_cast<std::uint32_t>(index) * 100000;
                    for (std::uint32_t sequence = first; sequence < first + kFrames; ++sequence) {
                        sender.Send(MakeTestFrame(kFrameSize, sequence));
                    }
                    allStored[index] =
                        run.WaitForFileCount(probes + static_cast<std::int32_t>(kFrames));
                }
                // The run stays until the readers are done with it.
                ++capturesDone;
                while (!readersDone.load()) std::this_thread::sleep_for(1ms);
                run.Stop();
                results[index] = run.WaitForResult(kCallLimit).value_or(0);
                runs[index].store(nullptr);
            }
        });
    }

    // Host threads reading every count as fast as they can: it only ever grows.
    std::atomic<long> reads{0};
    std::atomic<int> decreases{0};
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 2; ++reader) {
        readers.emplace_back([&] {
            std::array<std::int32_t, kCaptures> last{};
            last.fill(std::numeric_limits<std::int32_t>::min());  // before the call's reset
            while (capturesDone.load() < kCaptures) {
                for (int index = 0; index < kCaptures; ++index) {
                    CaptureRun* run = runs[index].load();
                    if (run == nullptr) continue;
                    const std::int32_t count = run->FileCount();
                    if (count < last[index]) ++decreases;
                    last[index] = count;
                    ++reads;
                }
            }
        });
    }
    for (auto& reader : readers) reader.join();
    readersDone.store(true);
    for (auto& capture : captures) capture.join();

    EXPECT_EQ(decreases.load(), 0) << "of " << reads.load() << " reads";
    for (int index = 0; index < kCaptures; ++index) {
        SCOPED_TRACE(index);
        EXPECT_TRUE(allStored[index]);
        EXPECT_EQ(results[index], ResultFinished);
        const auto stored = StoredTestFrames(folders[index].path());
        ASSERT_EQ(stored.size(), kFrames);
        const std::uint32_t first = static_cast<std::uint32_t>(index) * 100000;
        for (std::uint32_t offset = 0; offset < kFrames; ++offset) {
            ASSERT_EQ(stored[offset], MakeTestFrame(kFrameSize, first + offset)) << offset;
        }
    }
}

// What a host's signal handler stores into: one lock-free atomic store, which is all that is
// allowed in a handler.
std::atomic<std::int32_t*> signalledStopFlag{nullptr};

void StoreStopFromHandler(int) {
    if (std::int32_t* flag = signalledStopFlag.load())
        std::atomic_ref<std::int32_t>(*flag).store(1);
}

static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free);

class StopFromSignalHandler : public Concurrency, public ::testing::WithParamInterface<bool> {};

// The signal arrives either on the thread that makes the call, interrupting its wait for frames,
// or on another thread of the host while frames keep coming.
TEST_P(StopFromSignalHandler, EndsTheCallWithCompleteFiles) {
    const bool onTheCallingThread = GetParam();
    const TemporaryFolder folder;
    const VethNamespace network;
    const FrameSender sender(VethNamespace::kSendEnd);
    const ScopedSignalHandler handler(SIGUSR1, StoreStopFromHandler);
    CaptureRun run(module_.function(), VethNamespace::CaptureAdapter(), folder.path());
    ASSERT_GT(run.WaitUntilCapturing(sender).stored, 0);
    signalledStopFlag.store(run.StopFlag());

    std::atomic<bool> sending{!onTheCallingThread};
    std::thread traffic([&] {
        for (std::uint32_t sequence = 0; sequence < 100000 && sending.load(); ++sequence) {
            sender.Send(MakeTestFrame(300, sequence));
            if (sequence % 64 == 0) std::this_thread::sleep_for(1ms);
        }
    });
    std::this_thread::sleep_for(300ms);
    if (onTheCallingThread) {
        run.Signal(SIGUSR1);
    } else {
        raise(SIGUSR1);
    }
    const auto result = run.WaitForResult(kCallLimit);
    sending.store(false);
    traffic.join();
    signalledStopFlag.store(nullptr);

    EXPECT_EQ(result, ResultFinished);
    const std::int32_t count = run.FileCount();
    std::vector<int> expected;
    for (int number = 1; number <= count; ++number) expected.push_back(number);
    EXPECT_EQ(PacketFileNumbers(folder.path()), expected);
    for (const int number : expected) {
        EXPECT_TRUE(IsIntactFrame(ReadWholeFile(PacketFile(folder.path(), number)))) << number;
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, StopFromSignalHandler, ::testing::Bool(), [](const auto& info) {
    return info.param ? "OnTheCallingThread" : "OnAnotherHostThread";
});

}  // namespace
}  // namespace mirrowen::testing
