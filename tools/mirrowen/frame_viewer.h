// `--show`: the stored frames' pcap stream run through tcpdump where it is installed, else through
// tshark, whose lines are relayed to standard output with each frame's number made its packet
// file's. Both number the frames they read from 1 (tcpdump's -#, tshark's frame numbers); the
// stream leaves out frames the filter does not match and files that cannot be frames, so the
// relay replaces the viewer's number with the file number of that frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/programs.h"

namespace mirrowen::tool {

struct FrameViewerProgram {
    std::string name;  // "tcpdump" or "tshark"
    std::filesystem::path path;
};

// tcpdump, else tshark; nothing where neither is installed.
std::optional<FrameViewerProgram> FindFrameViewer();

// The line that refuses --show where neither is installed: what to install, and the -w - form.
std::string NoFrameViewerText();

class FrameViewer {
  public:
    // Starts the viewer, reading a pcap stream from its input, and the relay of its lines.
    explicit FrameViewer(const FrameViewerProgram& program);
    ~FrameViewer();
    FrameViewer(const FrameViewer&) = delete;
    FrameViewer& operator=(const FrameViewer&) = delete;

    // 0 once the viewer started; else the system's reason.
    int Error() const { return process_.Error(); }
    // Where the pcap stream goes.
    std::FILE* Input() const { return process_.Input(); }
    // The frame of packet file `number` is the next one written into the viewer's input.
    void FrameWritten(std::int64_t number);
    // Ends the viewer's input, relays its last lines and waits for it to end.
    void Finish();
    // Standard output could not be written (closed, as by `| head`): nothing more is relayed.
    bool OutputFailed() const { return outputFailed_.load(); }

  private:
    void Relay();
    std::string Renumbered(std::string line);

    platform::PipedProcess process_;
    std::mutex mutex_;
    std::deque<std::int64_t> fileNumbers_;  // of the frames written that the viewer has not shown
    std::int64_t viewerNumber_ = 0;         // the viewer's number of the last frame it showed
    std::atomic<bool> outputFailed_{false};
    std::thread relay_;
};

}  // namespace mirrowen::tool
