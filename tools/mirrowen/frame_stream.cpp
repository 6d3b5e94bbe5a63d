#include "frame_stream.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <limits>

#include "packet_folder.h"
#include "pcap_writer.h"
#include "platform/process.h"

namespace mirrowen::tool {

namespace {

using namespace std::chrono_literals;

constexpr auto kIdleWait = 10ms;
// Frames go out in flushes of at most this many files: few system calls when frames come fast,
// and none waits long for the flush.
constexpr std::int64_t kFilesPerFlush = 256;

}  // namespace

FrameStream::FrameStream(std::string folder, std::int32_t& fileCount,
                         std::optional<std::int64_t> lastFile, const FrameFilter* filter,
                         std::FILE* output, FrameWritten frameWritten)
    : folder_(std::move(folder)),
      fileCount_(fileCount),
      lastFile_(lastFile),
      filter_(filter),
      output_(output),
      frameWritten_(std::move(frameWritten)),
      thread_([this] { Run(); }) {}

FrameStream::~FrameStream() { Finish(); }

void FrameStream::Finish() {
    finishing_.store(true);
    if (thread_.joinable()) thread_.join();
}

void FrameStream::Run() {
    // On a busy machine the capture's threads run first.
    platform::LowerThreadPriority();
    const std::atomic_ref<std::int32_t> completedFiles(fileCount_);
    PcapWriter pcap(output_);
    std::int64_t next = 1;
    for (;;) {
        // Read before the count: once the capture has returned, the count read after is final.
        const bool finishing = finishing_.load();
        const std::int64_t completed = std::min<std::int64_t>(
            completedFiles.load(), lastFile_.value_or(std::numeric_limits<std::int64_t>::max()));
        if (completed < next && finishing) break;
        if (completed < next) {
            std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        for (const std::int64_t last = std::min(completed, next + kFilesPerFlush - 1);
             next <= last && !pcap.Error(); ++next) {
            const std::string path = PacketFilePath(folder_, next);
            if (const std::optional<std::string> failure = ReadPacketFile(path, frame_)) {
                std::cerr << "mirrowen: skipped " << path << ": " << *failure << '\n';
                continue;
            }
            if (filter_ != nullptr && !filter_->Matches(frame_.bytes)) continue;
            if (frameWritten_) frameWritten_(next);
            pcap.Append(frame_.captured, frame_.bytes);
        }
        if (!pcap.Flush()) break;
    }
    if (pcap.Flush()) return;
    if (!ReaderWentAway(pcap.Error())) {
        std::cerr << "mirrowen: cannot write the frames' stream: " << pcap.Error().message()
                  << '\n';
    }
    ended_.store(true);
}

}  // namespace mirrowen::tool
