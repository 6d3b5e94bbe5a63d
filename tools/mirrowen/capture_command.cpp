// `mirrowen capture`: one adapter's frames into a folder, one file each, until a stop.
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "arguments.h"
#include "capture_session.h"
#include "command_options.h"
#include "commands.h"
#include "exit_status.h"
#include "frame_filter.h"
#include "frame_viewer.h"
#include "library_names.h"
#include "mirrowen.h"
#include "module_loader.h"
#include "packet_folder.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

class CaptureCommand : public ToolCommand {
  public:
    explicit CaptureCommand(CLI::App& program) {
        const std::string captureLibrary(platform::kCaptureLibrary);
        const std::string skipped = "Frames of " + std::to_string(mirrowen::kLargestUnstoredFrame) +
                                    " bytes or fewer (ARP, a TCP RST, small UDP) are never stored";
        command_ = program.add_subcommand(
            "capture", "Capture one adapter's frames into a folder, one file each, until Ctrl-C");
        command_->add_option("-i,--adapter", adapter_, std::string(platform::kAdapterHelp))
            ->capture_default_str()
            ->check(AdapterArgument());
        command_
            ->add_option("-o,--output", folder_, "Folder for the packet files 1.hda, 2.hda, ...")
            ->capture_default_str()
            ->check(NonEmptyPath("folder path"));
        command_
            ->add_option("-c,--count", fileLimit_,
                         "Stop at N packet files: exactly N are left (tcpdump's -c counts every "
                         "packet; this counts stored frames)")
            ->type_name("N")
            ->check(WholeNumber(1, INT32_MAX));
        command_
            ->add_option("--duration", durationSeconds_,
                         "Stop after this long: 30 or 30s, 5m, 1h (fractions too: 1.5m)")
            ->type_name("TIME")
            ->transform(DurationSeconds());
        command_
            ->add_option("-B,--buffer-size", bufferMiB_,
                         "The kernel's capture ring in MiB, 1 to " +
                             std::to_string(MIRROWEN_LARGEST_CAPTURE_BUFFER_MB) +
                             " (default: one second at the adapter's link speed, at most " +
                             std::to_string(MIRROWEN_LARGEST_DEFAULT_CAPTURE_BUFFER_MB) + "; " +
                             std::to_string(MIRROWEN_UNKNOWN_SPEED_CAPTURE_BUFFER_MB) +
                             " where it reports none; never more than a sixteenth of the machine's "
                             "memory): sets " MIRROWEN_CAPTURE_BUFFER_VARIABLE
                             " for the capture. tcpdump's -B counts KiB")
            ->type_name("MiB")
            ->check(WholeNumber(1, MIRROWEN_LARGEST_CAPTURE_BUFFER_MB));
        command_->add_flag(
            "-q,--quiet", quiet_,
            "No start, set-up or progress line on stderr; the summary and every failure are "
            "still told (tcpdump's -q shortens its packet lines instead)");
        command_->add_flag(
            "--replace", replace_,
            "Remove the packet files of an earlier capture from the folder before this one "
            "starts; without it such a folder is refused, as the two would mix");
        AddShowFlag(*command_, showFrames_);
        command_
            ->add_option("-w", streamTarget_,
                         "With -: write the stored frames to standard output as a pcap stream, "
                         "each as soon as its file is complete (mirrowen capture -w - | tcpdump "
                         "-n -e -r -); a reader that goes away stops the capture, and the files "
                         "stay")
            ->type_name("-")
            ->check(StandardOutputOnly());
        command_
            ->add_option("--filter", filterExpression_,
                         "With --show or -w -: only the frames that match this " + captureLibrary +
                             " filter expression, as tcpdump takes it; the packet files keep "
                             "every frame")
            ->type_name("EXPR");
        AddLibraryOption(*command_, library_);
        command_->footer(skipped + ": a capture holds fewer files than tcpdump counts packets. " +
                         ExitStatusHelp(Command::Capture));
    }

    bool Chosen() const override { return static_cast<bool>(*command_); }

    int Run() const override {
        if (adapter_.empty()) {
            std::cerr << "mirrowen: capture needs -i ADAPTER here, as no adapter exists on every "
                         "machine; 'mirrowen list' shows the names it takes\n";
            return kExitUsage;
        }
        // A filter is an argument like any other: refused before anything starts.
        if (command_->count("--filter") > 0 && !showFrames_ && streamTarget_.empty()) {
            std::cerr << "mirrowen: --filter needs --show or -w -: it chooses the frames shown or "
                         "streamed, never the frames stored, as the packet files always keep every "
                         "frame (export them with 'mirrowen export --filter EXPR')\n";
            return kExitUsage;
        }
        if (showFrames_ && !streamTarget_.empty()) {
            std::cerr << "mirrowen: --show and -w - both write to standard output; choose one\n";
            return kExitUsage;
        }
        if (!streamTarget_.empty() && platform::OutputIsTerminal()) {
            std::cerr << "mirrowen: -w - writes a pcap stream, not text, and standard output is "
                         "a terminal: pipe it into a reader (mirrowen capture -w - | tcpdump -n "
                         "-e -r -), or use --show\n";
            return kExitUsage;
        }
        std::optional<FrameViewerProgram> viewer;
        if (!FindViewerForShow(showFrames_, viewer)) return kExitFailure;
        std::optional<FrameFilter> filter;
        if (!CompileFilterOption(filterExpression_, filter)) return kExitUsage;
        return Capture(filter ? &*filter : nullptr, viewer);
    }

  private:
    int Capture(const FrameFilter* showFilter,
                const std::optional<FrameViewerProgram>& viewer) const {
        const std::optional<LoadedModule> module = LoadModule(library_);
        if (!module) return kExitModuleMissing;
        CaptureRequest request;
        request.adapterName = AdapterSourceName(adapter_);
        // An absolute path names the folder plainly in every message.
        std::string error;
        const std::optional<std::string> folder = platform::AbsolutePath(folder_, error);
        if (!folder) {
            std::cerr << "mirrowen: cannot tell where " << folder_ << " is: " << error << '\n';
            return kExitFailure;
        }
        request.folderPath = *folder;
        if (const int status =
                PrepareCaptureFolder(request.folderPath, replace_, quiet_, request.folderCreated);
            status != kExitSuccess) {
            return status;
        }
        if (fileLimit_ > 0) request.fileLimit = fileLimit_;
        if (command_->count("--duration") > 0) request.durationSeconds = durationSeconds_;
        if (bufferMiB_ > 0) request.bufferMiB = bufferMiB_;
        request.showFrames = showFrames_;
        request.viewer = viewer;
        request.streamFrames = !streamTarget_.empty();
        request.quiet = quiet_;
        request.showFilter = showFilter;
        return ReportCapture(request, RunCapture(module->function, request));
    }

    CLI::App* command_ = nullptr;
    // Empty where the platform has no adapter to take by default: -i is then required.
    std::string adapter_ = platform::kDefaultDevice.empty()
                               ? std::string()
                               : mirrowen::AdapterName(platform::kDefaultDevice);
    std::string folder_ = "captures";
    std::int64_t fileLimit_ = 0;
    double durationSeconds_ = 0;
    std::int64_t bufferMiB_ = 0;
    bool showFrames_ = false;
    std::string streamTarget_;  // -w: only "-", standard output
    bool quiet_ = false;
    bool replace_ = false;
    std::string filterExpression_;
    std::string library_;
};

}  // namespace

std::unique_ptr<ToolCommand> AddCaptureCommand(CLI::App& program) {
    return std::make_unique<CaptureCommand>(program);
}

}  // namespace mirrowen::tool
