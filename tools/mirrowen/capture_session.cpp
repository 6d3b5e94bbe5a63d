#include "capture_session.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>

#include "capture_library_advice.h"
#include "capture_ring.h"
#include "exit_status.h"
#include "frame_stream.h"
#include "frame_viewer.h"
#include "library_names.h"
#include "packet_folder.h"
#include "platform/capture_library.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/stop_requests.h"
#include "printed_text.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

using Clock = std::chrono::steady_clock;

// A capture not live after this long is setting up its ring, which can take the kernel seconds.
constexpr auto kSetupTold = std::chrono::milliseconds(500);

// The two integers of the host protocol.
alignas(std::atomic_ref<std::int32_t>::required_alignment) std::int32_t stopFlag = 0;
alignas(std::atomic_ref<std::int32_t>::required_alignment) std::int32_t fileCount = 0;

// Removes the packet files numbered from `first` to `last`; says so on stderr for any that stays.
void RemovePacketFiles(const std::string& folder, std::int32_t first, std::int32_t last) {
    for (std::int32_t number = first; number <= last; ++number) {
        const std::string file = PacketFilePath(folder, number);
        if (const int error = platform::RemoveFile(file); error != 0) {
            std::cerr << "mirrowen: cannot remove " << file << ", stored past the "
                      << "requested count: " << platform::SystemErrorText(error) << '\n';
        }
    }
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Rate(std::int32_t files, double seconds) { return seconds > 0 ? files / seconds : 0; }

void ShowProgress(std::int32_t files, double seconds, bool overwrite) {
    char line[128];
    std::cerr << PrintedText(
                     line, std::snprintf(line, sizeof line,
                                         "%s%d file%s written, %.1f files/s, %.1f s elapsed%s",
                                         overwrite ? "\r\033[K" : "", files, files == 1 ? "" : "s",
                                         Rate(files, seconds), seconds, overwrite ? "" : "\n"))
              << std::flush;
}

std::string StopText(const CaptureOutcome& outcome) {
    switch (outcome.reason) {
        case StopReason::Request:
            return platform::StopRequestText(outcome.stopRequest);
        case StopReason::FileLimit:
            return "stopped at the requested file count";
        case StopReason::Duration:
            return "stopped after the requested duration";
        case StopReason::OutputClosed:
            return "stopped because standard output was closed";
        case StopReason::ViewerEnded:
            return "stopped because the frames' viewer ended";
        case StopReason::None:
            break;
    }
    return "the capture source ended";
}

// "Capturing on rpcap://eth0 into /x/captures with a 384 MiB capture ring (...); frames of 60
// bytes or fewer are not stored."
void ShowStartLine(const CaptureRequest& request, std::uint64_t ringBytes) {
    std::cerr << "Capturing on " << request.adapterName << " into " << request.folderPath
              << " with a "
              << RingText(request.adapterName.substr(kAdapterPrefix.size()), request.bufferMiB,
                          ringBytes)
              << "; frames of " << kLargestUnstoredFrame << " bytes or fewer are not stored."
              << std::endl;
}

// What to do about a device that the capture module could not open, from the capture library's
// own answer when it is asked again.
std::string AdapterOpenAdvice(const std::string& device) {
    switch (platform::WhyNotOpened(device)) {
        case platform::OpenStatus::kNoSuchDevice:
            return "there is no adapter " + device + "; 'mirrowen list' shows those there are";
        case platform::OpenStatus::kDown:
            return "the adapter is down; bring it up (ip link set " + device +
                   " up) and start again";
        case platform::OpenStatus::kDenied:
            return "capturing needs " + std::string(platform::kCaptureRights) +
                   " (setcap cap_net_raw,cap_net_admin=eip on the program)";
        case platform::OpenStatus::kNoCaptureLibrary:
            return std::string(kInstallCaptureLibrary) + ", which brings wpcap.dll";
        case platform::OpenStatus::kOpened:
        case platform::OpenStatus::kFailed:
            break;
    }
    return "check its name with 'mirrowen list', and that the program may capture (" +
           std::string(platform::kCaptureRights) + ")";
}

// The system's text for a packet file that the module could not write, with what the module
// never does (follow a link) said where that was the cause.
std::string PacketFileReason(int error, const std::string& folder) {
    std::string reason = FileSystemReason(error, folder);
    if (platform::IsLinkRefused(error)) {
        reason += ": a symbolic link stands at that name, and the capture never follows one";
    }
    return reason;
}

}  // namespace

std::string AdapterSourceName(const std::string& name) {
    return name.starts_with(kAdapterPrefix) ? name : AdapterName(name);
}

CaptureOutcome RunCapture(MirrowenFunction mirrowen, const CaptureRequest& request) {
    using namespace std::chrono_literals;
    const std::atomic_ref<std::int32_t> stop(stopFlag);
    const std::atomic_ref<std::int32_t> count(fileCount);
    stop.store(0);
    count.store(0);

    // The module may cut one trailing separator off the folder in this buffer while it runs.
    std::string folderBuffer = request.folderPath;
    std::atomic<std::int32_t> result{0};
    std::atomic<int> systemError{0};
    std::atomic<bool> finished{false};
    CaptureOutcome outcome;

    // Set before any thread starts: the module reads it at the call.
    if (request.bufferMiB) {
        platform::SetEnvironmentValue(MIRROWEN_CAPTURE_BUFFER_VARIABLE,
                                      std::to_string(*request.bufferMiB));
    }

    // A progress line redrawn with "\r" would garble frame lines on the same terminal: then only
    // the plain line at the end is printed.
    const bool overwriteProgress = !request.quiet && platform::ErrorRedrawsLines() &&
                                   !(request.showFrames && platform::OutputIsTerminal());
    // Ctrl-C and the like request a stop while the capture runs; a second one ends the process.
    // The module overwrites a stop stored before its own reset, so the watching loop stores the
    // stop again for as long as a request is recorded.
    const platform::StopRequests stopRequests(stopFlag);
    // The call blocks from its folder step to its end and signals nothing in between: the capture
    // is live once the system shows the module's capture open on an adapter that carries Ethernet
    // (the module's last check, which follows its open at once) and the call is still running a
    // pass later. The start line, the duration and the rate count from then. Where the system
    // shows no open (Windows, where it answers yes before the call), the capture counts as live
    // from the call.
    const std::string device = request.adapterName.substr(kAdapterPrefix.size());
    std::optional<Clock::time_point> live;
    std::uint64_t ringBytes = 0;
    const auto becomeLive = [&live, &request, &ringBytes] {
        live = Clock::now();
        if (!request.quiet) ShowStartLine(request, ringBytes);
        if (request.whenLive) request.whenLive();
    };
    const Clock::time_point called = Clock::now();
    if (platform::CaptureIsOpenInProcess(device, ringBytes)) becomeLive();
    std::thread worker;
    std::optional<FrameViewer> viewer;
    std::optional<FrameStream> stream;
    std::cout.flush();  // the stream and the viewer's relay write to the descriptor themselves
    if (request.showFrames && request.viewer) {
        viewer.emplace(*request.viewer);
        if (viewer->Error() != 0) {
            std::cerr << "mirrowen: cannot start " << request.viewer->path.string()
                      << " to show the frames: " << platform::SystemErrorText(viewer->Error())
                      << '\n';
            outcome.reason = StopReason::ViewerEnded;
            stop.store(1);
        }
    }
    {
        const platform::StopRequestsOnThisThread onThisThread;
        worker = std::thread([mirrowen, &request, &folderBuffer, &result, &systemError, &finished] {
            result.store(mirrowen(request.adapterName.c_str(), nullptr, folderBuffer.data(),
                                  &stopFlag, &fileCount));
            // First thing: it is this thread's.
            systemError.store(platform::LastSystemError());
            finished.store(true);
        });
        if (viewer && viewer->Error() == 0) {
            stream.emplace(request.folderPath, fileCount, request.fileLimit, request.showFilter,
                           viewer->Input(),
                           [&viewer](std::int64_t number) { viewer->FrameWritten(number); });
        } else if (request.streamFrames) {
            stream.emplace(request.folderPath, fileCount, request.fileLimit, request.showFilter,
                           platform::BinaryOutput());
        }
    }
    bool openSeen = false;
    bool setupTold = false;
    Clock::time_point lastProgress = called;
    while (!finished.load()) {
        std::this_thread::sleep_for(20ms);
        const std::int32_t files = count.load();
        if (!live) {
            if (openSeen && !finished.load()) {
                becomeLive();
                lastProgress = *live;
            }
            openSeen = platform::CaptureIsOpenInProcess(device, ringBytes);
            if (!live && !setupTold && !request.quiet && Clock::now() - called >= kSetupTold) {
                std::cerr << "Setting up the capture ring on " << request.adapterName << " ..."
                          << std::endl;
                setupTold = true;
            }
        }
        const double seconds = live ? SecondsSince(*live) : 0;
        if (outcome.reason == StopReason::None) {
            if (const int stopRequest = stopRequests.Received(); stopRequest != 0) {
                outcome.reason = StopReason::Request;
                outcome.stopRequest = stopRequest;
            } else if (request.fileLimit && files >= *request.fileLimit) {
                outcome.reason = StopReason::FileLimit;
            } else if (live && request.durationSeconds && seconds >= *request.durationSeconds) {
                outcome.reason = StopReason::Duration;
            } else if (viewer && viewer->OutputFailed()) {
                outcome.reason = StopReason::OutputClosed;
            } else if (stream && stream->Ended()) {
                outcome.reason = viewer ? StopReason::ViewerEnded : StopReason::OutputClosed;
            }
        }
        if (outcome.reason != StopReason::None) stop.store(1);
        if (live && overwriteProgress && Clock::now() - lastProgress >= 250ms) {
            ShowProgress(files, seconds, true);
            lastProgress = Clock::now();
        }
    }
    worker.join();
    outcome.result = result.load();
    outcome.systemError = systemError.load();
    outcome.files = count.load();
    // The module stores every frame of the block the capture library hands over before the stop
    // can take effect, so a count may be passed by a few files: those are removed, and exactly the
    // requested number is left.
    if (request.fileLimit && outcome.files > *request.fileLimit) {
        const auto limit = static_cast<std::int32_t>(*request.fileLimit);
        RemovePacketFiles(request.folderPath, limit + 1, outcome.files);
        outcome.files = limit;
    }
    outcome.seconds = live ? SecondsSince(*live) : 0;
    // A folder made for a capture that never started goes again, as it came.
    if (request.folderCreated &&
        (outcome.result == ResultRefused || outcome.result == ResultAdapterFailed ||
         outcome.result == ResultNotEthernet)) {
        if (const int error = platform::RemoveEmptyFolder(request.folderPath); error != 0) {
            std::cerr << "mirrowen: cannot remove the folder " << request.folderPath
                      << " made for this capture: " << platform::SystemErrorText(error) << '\n';
        }
    }
    if (stream) stream->Finish();
    if (viewer) viewer->Finish();
    if (live && overwriteProgress) std::cerr << "\r\033[K";
    if (outcome.result == ResultFinished && !request.quiet) {
        ShowProgress(outcome.files, outcome.seconds, false);
    }
    return outcome;
}

int ReportCapture(const CaptureRequest& request, const CaptureOutcome& outcome) {
    const std::string& adapter = request.adapterName;
    const std::string& folder = request.folderPath;
    switch (outcome.result) {
        case ResultFinished: {
            char timing[64];
            const std::string duration = PrintedText(
                timing, std::snprintf(timing, sizeof timing, "%.1f s", outcome.seconds));
            // With -w -, standard output carries the frames' stream alone.
            (request.streamFrames ? std::cerr : std::cout)
                << "Captured " << outcome.files
                << (outcome.files == 1 ? " packet file" : " packet files") << " from " << adapter
                << " into " << folder << " in " << duration << "; " << StopText(outcome) << ".\n";
            return kExitSuccess;
        }
        case ResultRefused:
            if (outcome.systemError == platform::kFolderInUseError) {
                RefuseFolderInUse(folder);
                break;
            }
            // The tool's own check passed a moment before: the folder went or changed meanwhile.
            std::cerr << "mirrowen: the capture module refused the output folder " << folder
                      << ": it is no longer a folder and could not be created again\n";
            break;
        case ResultAdapterFailed:
            std::cerr << "mirrowen: cannot open the adapter " << adapter << " ("
                      << platform::kAdapterReasonShown << "); "
                      << AdapterOpenAdvice(adapter.substr(kAdapterPrefix.size())) << '\n';
            break;
        case ResultNotEthernet:
            std::cerr << "mirrowen: the adapter " << adapter << " does not carry Ethernet frames; "
                      << platform::kNotEthernetHint << '\n';
            break;
        case ResultFileFailed: {
            std::cerr << "mirrowen: cannot write packet file " << PacketFileName(outcome.files + 1)
                      << " in " << folder << " (" << outcome.files
                      << " files were written before it): "
                      << (outcome.systemError != 0 ? PacketFileReason(outcome.systemError, folder)
                                                   : "the capture module gave no reason")
                      << '\n';
            break;
        }
        case ResultCaptureError:
            std::cerr << "mirrowen: the capture on " << adapter << " failed while reading, after "
                      << outcome.files
                      << " files; the adapter may have gone down or been removed, check it with "
                         "'mirrowen list' and start again\n";
            break;
        default:
            std::cerr << "mirrowen: the capture module returned the unknown result "
                      << outcome.result
                      << "; it does not match this program, give the right one with --library\n";
            return kExitUnknownResult;
    }
    return kExitCaptureBase + outcome.result;
}

}  // namespace mirrowen::tool
