// mirrowen: the command-line host of the Mirrowen capture module.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "adapter_list.h"
#include "arguments.h"
#include "capture/capture_buffer.h"
#include "capture_session.h"
#include "demo.h"
#include "exit_status.h"
#include "frame_filter.h"
#include "frame_viewer.h"
#include "library_names.h"
#include "module_loader.h"
#include "packet_folder.h"
#include "pcap_export.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tool_constants.h"

namespace {

using namespace mirrowen::tool;

struct CaptureOptions {
    // Empty where the platform has no adapter to take by default: -i is then required.
    std::string adapter = platform::kDefaultDevice.empty()
                              ? std::string()
                              : mirrowen::AdapterName(platform::kDefaultDevice);
    std::string folder = "captures";
    std::int64_t fileLimit = 0;
    std::string duration;
    std::int64_t bufferMiB = 0;
    bool showFrames = false;
    std::string streamTarget;  // -w: only "-", standard output
    bool quiet = false;
    bool replace = false;
};

int Capture(const CaptureOptions& options, const FrameFilter* showFilter,
            const std::optional<FrameViewerProgram>& viewer, const std::string& library) {
    const std::optional<LoadedModule> module = LoadModule(library);
    if (!module) return kExitModuleMissing;
    CaptureRequest request;
    request.adapterName = AdapterSourceName(options.adapter);
    // An absolute path names the folder plainly in every message.
    std::string error;
    const std::optional<std::string> folder = platform::AbsolutePath(options.folder, error);
    if (!folder) {
        std::cerr << "mirrowen: cannot tell where " << options.folder << " is: " << error << '\n';
        return kExitFailure;
    }
    request.folderPath = *folder;
    if (const int status = PrepareCaptureFolder(request.folderPath, options.replace, options.quiet,
                                                request.folderCreated);
        status != kExitSuccess) {
        return status;
    }
    if (options.fileLimit > 0) request.fileLimit = options.fileLimit;
    if (!options.duration.empty()) request.durationSeconds = DurationSeconds(options.duration);
    if (options.bufferMiB > 0) request.bufferMiB = options.bufferMiB;
    request.showFrames = options.showFrames;
    request.viewer = viewer;
    request.streamFrames = !options.streamTarget.empty();
    request.quiet = options.quiet;
    request.showFilter = showFilter;
    return ReportCapture(request, RunCapture(module->function, request));
}

constexpr const char* kModuleHelp = "The capture module to load (" MIRROWEN_MODULE_FILE_NAME ")";

int Run(int argc, char** argv) {
    platform::PrepareProcess();
    CLI::App app{"Writes live network traffic to disk, one file per frame.", "mirrowen"};
    app.set_version_flag("--version", "mirrowen " MIRROWEN_VERSION);
    app.require_subcommand(0, 1);
    app.failure_message(OneLineFailure);
    // The same options everywhere: on Windows, CLI11 would otherwise take "/x" for an option, and
    // a path such as /captures with it. Set before the commands, which inherit it.
    app.allow_windows_style_options(false);
    bool listFlag = false;
    app.add_flag("-D,--list-adapters", listFlag,
                 "List the adapters, as 'mirrowen list' does (tcpdump's -D numbers them; these "
                 "are the names -i takes)");

    const std::string captureLibrary(platform::kCaptureLibrary);
    CLI::App* list = app.add_subcommand("list", "List the adapters " + captureLibrary +
                                                    " can open, and whether each carries Ethernet");

    CaptureOptions options;
    std::string library;
    const std::string skipped = "Frames of " + std::to_string(mirrowen::kLargestUnstoredFrame) +
                                " bytes or fewer (ARP, a TCP RST, small UDP) are never stored";
    constexpr const char* kShowHelp =
        "Print a line per stored frame as its file is written: the frames run through tcpdump "
        "-n -e (tshark where tcpdump is missing), each line numbered with its packet file's "
        "number";
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    CLI::App* capture = app.add_subcommand(
        "capture", "Capture one adapter's frames into a folder, one file each, until Ctrl-C");
    capture->add_option("-i,--adapter", options.adapter, std::string(platform::kAdapterHelp))
        ->capture_default_str()
        ->check(AdapterArgument());
    capture
        ->add_option("-o,--output", options.folder, "Folder for the packet files 1.hda, 2.hda, ...")
        ->capture_default_str()
        ->check(NonEmptyPath("folder path"));
    capture
        ->add_option("-c,--count", options.fileLimit,
                     "Stop at N packet files: exactly N are left (tcpdump's -c counts every "
                     "packet; this counts stored frames)")
        ->type_name("N")
        ->check(WholeNumber(1, INT32_MAX));
    capture
        ->add_option("--duration", options.duration,
                     "Stop after this long: 30 or 30s, 5m, 1h (fractions too: 1.5m)")
        ->type_name("TIME")
        ->check(DurationArgument());
    capture
        ->add_option("-B,--buffer-size", options.bufferMiB,
                     "The kernel's capture ring in MiB, 1 to " +
                         std::to_string(mirrowen::capture::kLargestCaptureBufferMiB) +
                         " (default " +
                         std::to_string(mirrowen::capture::CaptureBufferBytes(nullptr, 0) / kMiB) +
                         ", never more than a sixteenth of the machine's memory): sets " +
                         mirrowen::capture::kCaptureBufferVariable +
                         " for the capture. tcpdump's -B counts KiB")
        ->type_name("MiB")
        ->check(WholeNumber(1, mirrowen::capture::kLargestCaptureBufferMiB));
    capture->add_flag("-q,--quiet", options.quiet,
                      "No start, set-up or progress line on stderr; the summary and every failure "
                      "are still told (tcpdump's -q shortens its packet lines instead)");
    capture->add_flag("--replace", options.replace,
                      "Remove the packet files of an earlier capture from the folder before this "
                      "one starts; without it such a folder is refused, as the two would mix");
    capture->add_flag("--show", options.showFrames, kShowHelp);
    capture
        ->add_option("-w", options.streamTarget,
                     "With -: write the stored frames to standard output as a pcap stream, each "
                     "as soon as its file is complete (mirrowen capture -w - | tcpdump -n -e -r "
                     "-); a reader that goes away stops the capture, and the files stay")
        ->type_name("-")
        ->check(StandardOutputOnly());
    std::string filterExpression;
    capture
        ->add_option("--filter", filterExpression,
                     "With --show or -w -: only the frames that match this " + captureLibrary +
                         " filter expression, as tcpdump takes it; the packet files keep every "
                         "frame")
        ->type_name("EXPR");
    capture->add_option("--library", library, kModuleHelp)
        ->type_name("PATH")
        ->check(NonEmptyPath("module path"));
    capture->footer(skipped + ": a capture holds fewer files than tcpdump counts packets. " +
                    ExitStatusHelp(Command::Capture));

    std::string exportFolder;
    std::string exportOutput;
    CLI::App* exporter = app.add_subcommand(
        "export", "Write a folder's packet files into one pcap file for Wireshark or tshark");
    exporter->add_option("FOLDER", exportFolder, "Folder holding 1.hda, 2.hda, ...")
        ->required()
        ->check(NonEmptyPath("folder path"));
    exporter
        ->add_option("OUTPUT", exportOutput,
                     "The pcap file to write, outside FOLDER; - writes it to standard output "
                     "(mirrowen export captures - | tshark -r -)")
        ->required()
        ->check(NonEmptyPath("output file name"));
    exporter
        ->add_option("--filter", filterExpression,
                     "Write only the frames that match this " + captureLibrary +
                         " filter expression, as tcpdump takes it")
        ->type_name("EXPR");
    exporter->footer(
        "Every packet file is written, in the order of its number; numbers missing between 1 and "
        "the highest, and files that cannot be frames (links, FIFOs, devices and folders are "
        "never followed or opened), are named on stderr. Frame times are the capture times the "
        "packet files carry as their modification times, to the nanosecond. " +
        ExitStatusHelp(Command::Export));

    std::string demoFolder = "mirrowen-demo";
    CLI::App* demo = nullptr;
    if constexpr (platform::kHasDemo) {
        demo =
            app.add_subcommand("demo",
                               "Capture a few seconds of loopback traffic the demo sends itself, "
                               "export a pcap");
        demo->add_option("-o,--output", demoFolder, "Folder for the demo's packet files and pcap")
            ->capture_default_str()
            ->check(NonEmptyPath("folder path"));
        demo->add_flag("--show", options.showFrames, kShowHelp);
        demo->add_option("--library", library, kModuleHelp)
            ->type_name("PATH")
            ->check(NonEmptyPath("module path"));
    }

    try {
        app.parse(argc, argv);
        if (listFlag && app.get_subcommands().size() > (*list ? 1U : 0U)) {
            throw CLI::ValidationError("-D", "it lists the adapters and takes no other command");
        }
        if (!listFlag && app.get_subcommands().empty()) {
            throw CLI::RequiredError(platform::kHasDemo
                                         ? "a command (list, capture, export or demo) or -D"
                                         : "a command (list, capture or export) or -D");
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }

    if (*capture && options.adapter.empty()) {
        std::cerr << "mirrowen: capture needs -i ADAPTER here, as no adapter exists on every "
                     "machine; 'mirrowen list' shows the names it takes\n";
        return kExitUsage;
    }
    // A filter is an argument like any other: refused before anything starts.
    if (*capture && capture->count("--filter") > 0 && !options.showFrames &&
        options.streamTarget.empty()) {
        std::cerr
            << "mirrowen: --filter needs --show or -w -: it chooses the frames shown or "
               "streamed, never the frames stored, as the packet files always keep every frame "
               "(export them with 'mirrowen export --filter EXPR')\n";
        return kExitUsage;
    }
    if (*capture && options.showFrames && !options.streamTarget.empty()) {
        std::cerr << "mirrowen: --show and -w - both write to standard output; choose one\n";
        return kExitUsage;
    }
    if (*capture && !options.streamTarget.empty() && platform::OutputIsTerminal()) {
        std::cerr << "mirrowen: -w - writes a pcap stream, not text, and standard output is a "
                     "terminal: pipe it into a reader (mirrowen capture -w - | tcpdump -n -e -r "
                     "-), or use --show\n";
        return kExitUsage;
    }
    // Refused at once where nothing can print the lines, before anything starts.
    std::optional<FrameViewerProgram> viewer;
    if (options.showFrames) {
        viewer = FindFrameViewer();
        if (!viewer) {
            std::cerr << "mirrowen: " << NoFrameViewerText() << '\n';
            return kExitFailure;
        }
    }
    std::optional<FrameFilter> filter;
    if (!CompileFilterOption(filterExpression, filter)) return kExitUsage;
    const FrameFilter* const chosen = filter ? &*filter : nullptr;

    if (listFlag || *list) return ListAdapters();
    if (*capture) return Capture(options, chosen, viewer, library);
    if (*exporter) {
        return ReportExport(exportFolder, exportOutput,
                            ExportToPcap(exportFolder, exportOutput, chosen));
    }
    // Only where the platform has the demo: elsewhere this is never compiled, nor demo.cpp.
    if constexpr (platform::kHasDemo) {
        if (*demo) {
            const std::optional<LoadedModule> module = LoadModule(library);
            if (!module) return kExitModuleMissing;
            return RunDemo(module->function, demoFolder, viewer);
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // What nothing else catches (no memory left, a thread that cannot start) ends the run with its
    // cause on stderr and the status of a failure, rather than in std::terminate's abort.
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "mirrowen: " << error.what() << '\n';
    } catch (...) {
        std::cerr << "mirrowen: stopped by an unknown exception\n";
    }
    return kExitFailure;
}
