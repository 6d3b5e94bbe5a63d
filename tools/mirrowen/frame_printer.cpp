#include "frame_printer.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "frame_summary.h"
#include "library_names.h"
#include "packet_folder.h"
#include "packet_reader.h"
#include "platform/tool_platform.h"

namespace mirrowen::tool {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Lines are never further behind the capture than this (and one batch): when they would be, the
// frames in between are left out and the newest is printed next.
constexpr auto kLargestLag = 1s;
constexpr auto kIdleWait = 10ms;
// Lines go out in writes of up to this size: few system calls when frames come fast.
constexpr std::size_t kBatchBytes = std::size_t{32} * 1024;

}  // namespace

FramePrinter::FramePrinter(std::string folder, std::int32_t& fileCount,
                           std::optional<std::int64_t> lastFile, const FrameFilter* filter)
    : folder_(std::move(folder)),
      fileCount_(fileCount),
      lastFile_(lastFile),
      filter_(filter),
      thread_([this] { Run(); }) {}

FramePrinter::~FramePrinter() { Finish(); }

void FramePrinter::Finish() {
    finishing_.store(true);
    if (thread_.joinable()) thread_.join();
}

void FramePrinter::Run() {
    // On a busy machine the capture's threads run first, and the printer falls behind and skips
    // instead.
    platform::LowerThreadPriority();
    const std::atomic_ref<std::int32_t> completedFiles(fileCount_);
    std::int64_t next = 1;
    // No file still waiting to be printed was completed before this time.
    Clock::time_point waitingSince = Clock::now();
    std::string lines;
    for (;;) {
        // Read before the count: once the capture has returned, the count read after is final.
        const bool finishing = finishing_.load();
        const Clock::time_point now = Clock::now();
        const std::int64_t completed = std::min<std::int64_t>(
            completedFiles.load(), lastFile_.value_or(std::numeric_limits<std::int64_t>::max()));
        if (completed < next) {
            if (finishing) return;
            waitingSince = now;
            std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        if (completed > next && now - waitingSince > kLargestLag) {
            lines += "... " + std::to_string(completed - next) + " frames not shown ...\n";
            next = completed;
        }
        while (next <= completed && lines.size() < kBatchBytes) {
            if (const std::optional<std::string> line = StoredFrameLine(next++)) {
                lines += *line;
                lines += '\n';
            }
        }
        if (next > completed) waitingSince = now;
        if (!platform::WriteOutput(lines)) {
            outputFailed_.store(true);
            return;
        }
        lines.clear();
    }
}

std::optional<std::string> FramePrinter::StoredFrameLine(std::int64_t number) {
    if (const std::optional<std::string> failure =
            ReadPacketFile(PacketFilePath(folder_, number), frame_)) {
        return std::to_string(number) + " cannot read " + PacketFileName(number) + ": " + *failure;
    }
    if (filter_ != nullptr && !filter_->Matches(frame_.bytes)) return std::nullopt;
    return FrameLine(number, frame_.captured, frame_.bytes);
}

}  // namespace mirrowen::tool
