// Long run (a benchmark, not a test): a host that loads the module and has it capture many small
// frames on a veth pair into a tmpfs, sampling the process's resident memory and open descriptors
// as it goes. Both must stay flat: a call that leaked per frame would show it within a million.
// The host removes packet files it has seen counted, so that the tmpfs stays small.
//
// Usage: mirrowen_long_run [FRAMES] (default 1000000). Needs root. Prints one line per sample
// and a summary.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "capture_run.h"
#include "frames.h"
#include "network_namespace.h"
#include "process_state.h"

namespace {

using namespace mirrowen::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint32_t kBatch = 5000;  // sent at once, then the host waits for the count
constexpr std::uint32_t kSampleEvery = 20000;
constexpr std::size_t kFrameSize = 64;  // small, but above the 60-byte threshold

long ResidentKiB() { return ProcFieldKb("/proc/self/status", "VmRSS"); }

int Run(std::uint32_t frames) {
    const LoadedModule module(MIRROWEN_MODULE_PATH);
    const TemporaryFolder scratch;
    const fs::path folder = scratch.path() / "tmpfs";
    const TemporaryFileSystem tmpfs(folder, 256u << 20);
    const VethNamespace network;
    const FrameSender sender(VethNamespace::kSendEnd);

    CaptureRun run(module.function(), VethNamespace::CaptureAdapter(), folder);
    if (run.WaitUntilCapturing(sender).stored == 0) {
        std::fprintf(stderr, "the capture never started\n");
        return 1;
    }
    std::this_thread::sleep_for(500ms);
    const std::int32_t probes = run.FileCount();
    std::int32_t removedUpTo = 0;
    long residentMin = ResidentKiB();
    long residentMax = residentMin;
    std::size_t descriptorsMin = OpenDescriptorCount();
    std::size_t descriptorsMax = descriptorsMin;
    std::uint32_t lostBatches = 0;

    std::printf("frames,seconds,rss_kib,descriptors\n");
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t sent = 0; sent < frames;) {
        const std::uint32_t batch = std::min(kBatch, frames - sent);
        for (std::uint32_t offset = 0; offset < batch; ++offset) {
            sender.Send(MakeTestFrame(kFrameSize, sent + offset));
        }
        sent += batch;
        if (!run.WaitForFileCount(probes + static_cast<std::int32_t>(sent))) ++lostBatches;
        if (sent % kSampleEvery == 0 || sent == frames) {
            const std::int32_t counted = run.FileCount();
            for (; removedUpTo < counted; ++removedUpTo) {
                fs::remove(PacketFile(folder, removedUpTo + 1));
            }
            const long resident = ResidentKiB();
            const std::size_t descriptors = OpenDescriptorCount();
            residentMin = std::min(residentMin, resident);
            residentMax = std::max(residentMax, resident);
            descriptorsMin = std::min(descriptorsMin, descriptors);
            descriptorsMax = std::max(descriptorsMax, descriptors);
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            std::printf("%u,%.1f,%ld,%zu\n", sent, elapsed.count(), resident, descriptors);
            std::fflush(stdout);
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    run.Stop();
    const auto result = run.WaitForResult(10s);
    const std::int32_t stored = run.FileCount() - probes;

    std::printf("\nframes sent %u, stored %d, batches short %u, result %d\n", frames, stored,
                lostBatches, result.value_or(0));
    std::printf("%.1f s, %.0f frames/s (the host removing files as it goes)\n", elapsed.count(),
                frames / elapsed.count());
    std::printf("resident memory %ld to %ld KiB, open descriptors %zu to %zu\n", residentMin,
                residentMax, descriptorsMin, descriptorsMax);
    return stored == static_cast<std::int32_t>(frames) && result == ResultFinished ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (geteuid() != 0) {
        std::fprintf(stderr, "needs root: it builds a network namespace and mounts a tmpfs\n");
        return 2;
    }
    const std::uint32_t frames =
        argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    return Run(frames);
}
