// `mirrowen capture --show`: a line per stored frame on standard output, printed from a thread of
// its own, so that an output that blocks (a slow terminal, a pipe nobody reads) never delays the
// capture or its stop. A packet file is read only once the module has completed it, that is once
// the file count has reached its number.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_filter.h"
#include "packet_reader.h"

namespace mirrowen::tool {

class FramePrinter {
  public:
    // Starts printing the packet files of `folder` as `fileCount` (the host's count, read
    // atomically) reaches them, from 1.hda on, up to `lastFile` where one is given (files past a
    // requested count are removed, never shown). With a filter, only the frames it matches get a
    // line (a file that cannot be read still does).
    FramePrinter(std::string folder, std::int32_t& fileCount, std::optional<std::int64_t> lastFile,
                 const FrameFilter* filter = nullptr);
    ~FramePrinter();
    FramePrinter(const FramePrinter&) = delete;
    FramePrinter& operator=(const FramePrinter&) = delete;

    // Prints the lines still due and ends the thread. For once the capture has returned and the
    // count is final; waits for as long as standard output takes to accept the last lines.
    void Finish();
    // Standard output could not be written (closed, as by `| head`): nothing more is printed.
    bool OutputFailed() const { return outputFailed_.load(); }

  private:
    void Run();
    // The frame's line, or nothing for a frame the filter leaves out.
    std::optional<std::string> StoredFrameLine(std::int64_t number);

    std::string folder_;
    std::int32_t& fileCount_;
    std::optional<std::int64_t> lastFile_;
    const FrameFilter* filter_;
    PacketFrame frame_;
    std::atomic<bool> finishing_{false};
    std::atomic<bool> outputFailed_{false};
    std::thread thread_;
};

}  // namespace mirrowen::tool
