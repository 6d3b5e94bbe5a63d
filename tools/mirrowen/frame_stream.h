// The stored frames as a pcap stream, written from a thread of its own as the module completes
// each packet file (once the file count has reached its number), in the order of the numbers: to
// standard output (`capture -w -`) or into the viewer of `--show`. An output that blocks never
// delays the capture or its stop; the stream leaves no frame out, so after a stop it catches up
// with the files stored before it ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "frame_filter.h"
#include "packet_reader.h"

namespace mirrowen::tool {

class FrameStream {
  public:
    // Called with a packet file's number just before its frame is written to the stream.
    using FrameWritten = std::function<void(std::int64_t number)>;

    // Starts writing the packet files of `folder` into `output` as `fileCount` (the host's count,
    // read atomically) reaches them, from 1.hda on, up to `lastFile` where one is given (files past
    // a requested count are removed, never streamed). With a filter, only the frames it matches
    // are written. A file that cannot be a frame is named on stderr with its reason and left out.
    FrameStream(std::string folder, std::int32_t& fileCount, std::optional<std::int64_t> lastFile,
                const FrameFilter* filter, std::FILE* output, FrameWritten frameWritten = {});
    ~FrameStream();
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    // Writes the frames still due and ends the thread. For once the capture has returned and the
    // count is final; waits for as long as the reader takes them.
    void Finish();
    // The stream could not be written (its reader went away, or the system's reason was told on
    // stderr): nothing more is.
    bool Ended() const { return ended_.load(); }

  private:
    void Run();

    std::string folder_;
    std::int32_t& fileCount_;
    std::optional<std::int64_t> lastFile_;
    const FrameFilter* filter_;
    std::FILE* output_;
    FrameWritten frameWritten_;
    PacketFrame frame_;
    std::atomic<bool> finishing_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace mirrowen::tool
