#include "frame_printer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <system_error>

#include "descriptor.h"
#include "frame_summary.h"
#include "library_names.h"

namespace mirrowen::tool {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Lines are never further behind the capture than this (and one batch): when they would be, the
// frames in between are left out and the newest is printed next.
constexpr auto kLargestLag = 1s;
constexpr auto kIdleWait = 10ms;
// Lines go out in writes of up to this size: few system calls when frames come fast.
constexpr std::size_t kBatchBytes = 32 * 1024;
// The lowest priority: on a busy machine the capture's threads run first, and the printer falls
// behind and skips instead.
constexpr int kPrinterNice = 19;

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

bool WriteAll(int descriptor, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t result = write(descriptor, text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return false;
        written += static_cast<std::size_t>(result);
    }
    return true;
}

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
    // On Linux the nice value belongs to the thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kPrinterNice);
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
        if (!WriteAll(STDOUT_FILENO, lines)) {
            outputFailed_.store(true);
            return;
        }
        lines.clear();
    }
}

std::optional<std::string> FramePrinter::StoredFrameLine(std::int64_t number) {
    const std::string name = PacketFileName(number);
    const std::string failure = std::to_string(number) + " cannot read " + name + ": ";
    // Whatever stands at the name now is untrusted: a link is not followed, and a FIFO put there
    // does not block the open.
    const Descriptor file(
        open((folder_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat status {};
    if (file.get() < 0 || fstat(file.get(), &status) != 0) return failure + ErrorText(errno);
    if (!S_ISREG(status.st_mode)) return failure + "not a regular file";
    if (status.st_size > kSnapshotLength) {
        return failure + std::to_string(status.st_size) + " bytes are more than a frame";
    }
    frame_.resize(static_cast<std::size_t>(status.st_size));
    std::size_t size = 0;
    while (size < frame_.size()) {
        const ssize_t result = read(file.get(), frame_.data() + size, frame_.size() - size);
        if (result < 0 && errno == EINTR) continue;
        if (result < 0) return failure + ErrorText(errno);
        if (result == 0) break;  // shortened meanwhile: the bytes read are the frame
        size += static_cast<std::size_t>(result);
    }
    const std::span<const unsigned char> frame = std::span(frame_).first(size);
    if (filter_ != nullptr && !filter_->Matches(frame)) return std::nullopt;
    return FrameLine(number, status.st_mtim, frame);
}

}  // namespace mirrowen::tool
