// One call of Mirrowen from the host's side: a worker thread makes the call, this thread watches
// fileCount, shows progress and decides when to store into the stop flag, and with -w - or --show
// a third thread streams the stored frames (into tcpdump or tshark with --show).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frame_filter.h"
#include "frame_viewer.h"
#include "mirrowen.h"

namespace mirrowen::tool {

struct CaptureRequest {
    std::string adapterName;  // "rpcap://<device>"
    std::string folderPath;
    std::optional<std::int64_t> fileLimit;     // stop at this many files; any written past it go
    std::optional<double> durationSeconds;     // stop after this long
    std::optional<std::int64_t> bufferMiB;     // the capture ring's size, set for the module's call
    bool showFrames = false;                   // print a line per stored frame on stdout
    std::optional<FrameViewerProgram> viewer;  // with showFrames: what prints the lines
    bool streamFrames = false;                 // write the stored frames to stdout as a pcap stream
    bool quiet = false;                        // no start line and no progress line
    // With showFrames or streamFrames: only the frames it matches.
    const FrameFilter* showFilter = nullptr;
    bool folderCreated = false;  // made for this capture: removed if it never starts
    // Called once, on the watching thread, when the capture is live.
    std::function<void()> whenLive;
};

enum class StopReason { None, Request, FileLimit, Duration, OutputClosed, ViewerEnded };

struct CaptureOutcome {
    std::int32_t result = 0;
    std::int32_t files = 0;
    double seconds = 0;
    StopReason reason = StopReason::None;
    int stopRequest = 0;  // with StopReason::Request: which (Ctrl-C, ...), for the summary
    // The system's reason as the call left it (errno, GetLastError() on Windows): the reason
    // after ResultFileFailed.
    int systemError = 0;
};

// Prepends "rpcap://" unless the name already carries it, so "lo" and "rpcap://lo" both work.
std::string AdapterSourceName(const std::string& name);

// Runs the capture to its end. Once it is live (the adapter open), a start line on stderr names
// the adapter, the folder and the capture ring, unless quiet; a folder made for it that it never
// used is removed. Ctrl-C (and on POSIX SIGTERM and SIGHUP, on Windows the
// console's other control events) requests a stop while it runs; a second one ends the process
// at once.
CaptureOutcome RunCapture(MirrowenFunction mirrowen, const CaptureRequest& request);

// Prints the one-line summary (stdout) or the failure line (stderr) for an outcome and returns
// the process exit status.
int ReportCapture(const CaptureRequest& request, const CaptureOutcome& outcome);

}  // namespace mirrowen::tool
