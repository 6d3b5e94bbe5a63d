#include "ring_bench.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>

#include "live_peers.h"
#include "mirrowen.h"
#include "process_state.h"

namespace mirrowen::bench {

namespace {

using namespace std::chrono_literals;
using testing::VethNamespace;

// Sets the library's buffer size for as long as it lives.
class BufferSetting {
  public:
    explicit BufferSetting(std::size_t mib) {
        setenv(MIRROWEN_CAPTURE_BUFFER_VARIABLE, std::to_string(mib).c_str(), 1);
    }
    ~BufferSetting() { unsetenv(MIRROWEN_CAPTURE_BUFFER_VARIABLE); }
    BufferSetting(const BufferSetting&) = delete;
    BufferSetting& operator=(const BufferSetting&) = delete;
};

// The buffer sizes of one repetition, the first of them changing with each.
std::vector<std::size_t> InTurn(const std::vector<std::size_t>& sizes, int repetition) {
    std::vector<std::size_t> turn;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        turn.push_back(sizes[(i + static_cast<std::size_t>(repetition)) % sizes.size()]);
    }
    return turn;
}

double ProcKb(const char* file, const std::string& field) {
    return static_cast<double>(testing::ProcFieldKb(file, field));
}

struct Memory {
    double availableKb, freeKb, sizeKb, residentKb;
    static Memory Now() {
        return {ProcKb("/proc/meminfo", "MemAvailable"), ProcKb("/proc/meminfo", "MemFree"),
                ProcKb("/proc/self/status", "VmSize"), ProcKb("/proc/self/status", "VmRSS")};
    }
};

struct RingSample {
    double openMs, openCpuMs, closeMs, availableMiB, freeMiB, sizeMiB, residentMiB, callMs;
};

RingSample MeasureRing(MirrowenFunction function, const std::string& folder) {
    RingSample sample{};
    const Memory before = Memory::Now();
    const double cpuBefore = ThreadCpuSeconds();
    const auto openStart = Clock::now();
    std::string failure;
    pcap_t* capture = OpenAsTheLibraryDoes(failure);
    if (capture == nullptr) throw std::runtime_error("cannot open the capture end: " + failure);
    sample.openMs = Seconds(Clock::now() - openStart) * 1000;
    sample.openCpuMs = (ThreadCpuSeconds() - cpuBefore) * 1000;
    const Memory open = Memory::Now();
    sample.availableMiB = (before.availableKb - open.availableKb) / 1024;
    sample.freeMiB = (before.freeKb - open.freeKb) / 1024;
    sample.sizeMiB = (open.sizeKb - before.sizeKb) / 1024;
    sample.residentMiB = (open.residentKb - before.residentKb) / 1024;
    const auto closeStart = Clock::now();
    pcap_close(capture);
    sample.closeMs = Seconds(Clock::now() - closeStart) * 1000;

    // The call resets the flag once it has accepted its arguments, opens the adapter, and then
    // finds the flag set again: it closes the capture and returns.
    std::int32_t stopFlag = 1, fileCount = -1;
    std::string folderPath = folder;
    std::thread stopper([&] {
        const auto limit = Clock::now() + 10s;
        std::atomic_ref<std::int32_t> flag(stopFlag);
        while (flag.load() != 0 && Clock::now() < limit) std::this_thread::sleep_for(100us);
        flag.store(1);
    });
    const auto callStart = Clock::now();
    const std::int32_t result = function(VethNamespace::CaptureAdapter().c_str(), nullptr,
                                         folderPath.data(), &stopFlag, &fileCount);
    sample.callMs = Seconds(Clock::now() - callStart) * 1000;
    stopper.join();
    if (result != ResultFinished) throw std::runtime_error("the stopped call failed");
    return sample;
}

}  // namespace

void Burst(MirrowenFunction function, const std::vector<std::size_t>& buffersMiB,
           const std::vector<double>& rates, double seconds, int repetitions) {
    Folders folders;
    const VethNamespace network;
    for (const double rate : rates) {
        std::map<std::size_t, std::vector<Outcome>> outcomes;
        for (int repetition = 0; repetition < repetitions; ++repetition) {
            for (const std::size_t mib : InTurn(buffersMiB, repetition)) {
                const BufferSetting setting(mib);
                const Case burst{1514, rate, "library", "tmpfs"};
                outcomes[mib].push_back(RunCase(burst, folders, network, function, seconds));
                const Outcome& outcome = outcomes[mib].back();
                std::fprintf(stderr, "burst %zu MiB: sent %llu stored %llu ring drops %llu\n", mib,
                             static_cast<unsigned long long>(outcome.sent),
                             static_cast<unsigned long long>(outcome.stored),
                             static_cast<unsigned long long>(outcome.ringDrops.value_or(0)));
            }
        }
        if (rate > 0) {
            std::printf("\n%s, 1514-byte frames at %.0f/s for %.1f s, %d runs per size:\n\n",
                        folders.Describe("tmpfs").c_str(), rate, seconds, repetitions);
        } else {
            std::printf("\n%s, %llu frames of 1514 bytes at full speed, %d runs per size:\n\n",
                        folders.Describe("tmpfs").c_str(),
                        static_cast<unsigned long long>(kFullSpeedFrames), repetitions);
        }
        std::printf(
            "| capture buffer MiB | runs kept whole | most lost %% | stored, median | stored, "
            "fewest | s from first sent to last stored, median |\n"
            "|---:|---:|---:|---:|---:|---:|\n");
        for (const std::size_t mib : buffersMiB) {
            std::vector<double> stored, activeSeconds;
            double mostLost = 0;
            int whole = 0;
            for (const Outcome& outcome : outcomes[mib]) {
                stored.push_back(static_cast<double>(outcome.stored));
                activeSeconds.push_back(outcome.activeSeconds);
                whole += LossFree(outcome) ? 1 : 0;
                mostLost = std::max(mostLost, LossPercent(outcome));
            }
            std::printf("| %zu | %d/%zu | %.2f | %.0f | %.0f | %.2f |\n", mib, whole,
                        outcomes[mib].size(), mostLost, Median(stored),
                        *std::min_element(stored.begin(), stored.end()), Median(activeSeconds));
        }
    }
}

void RingCost(MirrowenFunction function, const std::vector<std::size_t>& buffersMiB,
              int repetitions) {
    Folders folders;
    const VethNamespace network;
    std::map<std::size_t, std::vector<RingSample>> samples;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (const std::size_t mib : InTurn(buffersMiB, repetition)) {
            const BufferSetting setting(mib);
            samples[mib].push_back(MeasureRing(function, folders.Fresh("tmpfs").string()));
            const RingSample& s = samples[mib].back();
            std::fprintf(stderr,
                         "ring %zu MiB: open %.1f ms (cpu %.1f) close %.1f ms, available -%.0f "
                         "free -%.0f VmSize +%.0f VmRSS +%.0f MiB, stopped call %.1f ms\n",
                         mib, s.openMs, s.openCpuMs, s.closeMs, s.availableMiB, s.freeMiB,
                         s.sizeMiB, s.residentMiB, s.callMs);
        }
    }
    std::printf("\nMedians of %d runs (spread: least to most):\n\n", repetitions);
    std::printf(
        "| capture buffer MiB | open ms | CPU ms of the open | close ms | library call "
        "stopped at once, ms | MemAvailable taken, MiB | VmSize +MiB | VmRSS +MiB |\n"
        "|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const std::size_t mib : buffersMiB) {
        std::map<std::string, std::vector<double>> columns;
        for (const RingSample& s : samples[mib]) {
            columns["open"].push_back(s.openMs);
            columns["cpu"].push_back(s.openCpuMs);
            columns["close"].push_back(s.closeMs);
            columns["call"].push_back(s.callMs);
            columns["available"].push_back(s.availableMiB);
            columns["size"].push_back(s.sizeMiB);
            columns["resident"].push_back(s.residentMiB);
        }
        // The median, and from the least to the most in brackets.
        const auto cell = [&](const char* name) {
            const std::vector<double>& values = columns[name];
            char text[64];
            std::snprintf(text, sizeof text, "%.0f (%.0f-%.0f)", Median(values),
                          *std::min_element(values.begin(), values.end()),
                          *std::max_element(values.begin(), values.end()));
            return std::string(text);
        };
        std::printf("| %zu | %s | %s | %s | %s | %s | %.0f | %.0f |\n", mib, cell("open").c_str(),
                    cell("cpu").c_str(), cell("close").c_str(), cell("call").c_str(),
                    cell("available").c_str(), Median(columns["size"]),
                    Median(columns["resident"]));
    }
}

}  // namespace mirrowen::bench
