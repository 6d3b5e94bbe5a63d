#pragma once

// The peers of the live benchmark, each capturing one case's traffic on the capture end of the
// benchmark's veth pair and storing it in the case's folder: the library, tcpdump, dumpcap writing
// one file per packet, and reference loops of the benchmark's own. All of them run on the calling
// thread's network namespace, which must be the benchmark's.
#include <pcap/pcap.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture_run.h"
#include "frames.h"
#include "mirrowen.h"
#include "network_namespace.h"
#include "scratch_folders.h"

namespace mirrowen::bench {

using Clock = std::chrono::steady_clock;

inline constexpr std::uint64_t kFullSpeedFrames = 200000;

double Seconds(Clock::duration duration);
double Median(std::vector<double> values);
// CPU time (user and system) of the calling thread so far.
double ThreadCpuSeconds();
// Waits until `counter` has not changed for `quiet` (within a minute); returns when it last
// changed.
Clock::time_point WaitUntilQuiet(const std::function<std::uint64_t()>& counter,
                                 Clock::duration quiet = std::chrono::milliseconds(500));
// Frames the kernel handed to the capture end (interface statistics of the namespace).
std::uint64_t DeliveredFrames(const testing::VethNamespace& network);
// Leading probe files among 1.hda, 2.hda, ...
std::uint64_t LeadingProbeFiles(const std::filesystem::path& folder);
// The capture buffer the library asks for under this process's environment, in MiB.
std::size_t LibraryBufferMiB();

// Sends probes until the capture stores one; returns how many were sent, throws when none was.
std::uint64_t WaitUntilCapturing(testing::CaptureRun& capture, const testing::FrameSender& sender);
// Waits (within a bound) for the capture to return; throws unless it finished.
void Finish(testing::CaptureRun& capture);

// The scratch folders of one process: a tmpfs of its own and a directory on disk.
//
// A tmpfs folder goes when the next one is made (it holds memory), a disk folder only with the
// process: ext4 without a journal skips inodes freed in the last minute or more when it
// allocates, at a cost per skipped inode, so removing one run's files would slow the next runs
// by far more than anything measured here.
class Folders {
  public:
    Folders();
    // A fresh, empty folder on the named file system ("tmpfs" or "disk").
    std::filesystem::path Fresh(const std::string& fileSystem);
    // "tmpfs (tmpfs)", "disk (ext4)".
    std::string Describe(const std::string& fileSystem) const;
    // A file of this name on the tmpfs, outside every case's folder (for a peer's messages, an
    // exported pcap).
    std::filesystem::path ScratchFile(const std::string& name) const {
        return tmpfs_.path() / name;
    }

  private:
    ScratchTmpfs tmpfs_;
    testing::TemporaryFolder disk_;
    std::unique_ptr<testing::TemporaryFolder> currentTmpfsFolder_;
    int diskFolders_ = 0;
};

// One case of traffic: `size`-byte frames at `rate` frames/s (0: kFullSpeedFrames as fast as the
// kernel takes them), captured by `peer` into a folder on `fileSystem`.
struct Case {
    std::size_t size = 0;
    double rate = 0;
    std::string peer;
    std::string fileSystem;

    std::uint64_t FrameCount(double seconds) const {
        return rate > 0 ? static_cast<std::uint64_t>(rate * seconds) : kFullSpeedFrames;
    }
};

struct Outcome {
    std::uint64_t sent = 0;
    std::uint64_t stored = 0;
    std::optional<std::uint64_t> ringDrops;  // frames the kernel dropped before the reader got them
    double activeSeconds = 0;                // from the first send to the last frame stored
    double cpuSeconds = 0;                   // of the capture, from the end of its open
};

// The share of the frames sent that were not stored, in percent.
double LossPercent(const Outcome& outcome);
bool LossFree(const Outcome& outcome);

// The name with the capture buffer it runs with, for tables ("dumpcap -B 256", ...).
std::string PeerLabel(const std::string& peer);

// pcap_open_live's steps with the library's parameters: snapshot length 65536, promiscuous
// mode, 200 ms read timeout, the library's buffer (under this process's environment) and
// nanosecond times. Null with `failure` set when it cannot be opened.
pcap_t* OpenAsTheLibraryDoes(std::string& failure);

// Runs one case in a fresh folder; `seconds` of traffic at the case's rate.
Outcome RunCase(const Case& test, Folders& folders, const testing::VethNamespace& network,
                MirrowenFunction function, double seconds);

}  // namespace mirrowen::bench
