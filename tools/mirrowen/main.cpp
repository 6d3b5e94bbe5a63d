// mirrowen: the command-line host of the Mirrowen capture module.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "adapter_list.h"
#include "capture_session.h"
#include "demo.h"
#include "exit_status.h"
#include "frame_filter.h"
#include "library_names.h"
#include "module_loader.h"
#include "pcap_export.h"

namespace {

using namespace mirrowen::tool;

int Capture(const std::string& adapter, const std::string& folder, std::int64_t fileLimit,
            double durationSeconds, bool showFrames, const FrameFilter* showFilter,
            const std::string& library) {
    const std::optional<LoadedModule> module = LoadModule(library);
    if (!module) return kExitModuleMissing;
    CaptureRequest request;
    request.adapterName = AdapterSourceName(adapter);
    // An absolute path names the folder plainly in every message.
    request.folderPath = std::filesystem::absolute(folder).string();
    if (fileLimit > 0) request.fileLimit = fileLimit;
    if (durationSeconds > 0) request.durationSeconds = durationSeconds;
    request.showFrames = showFrames;
    request.showFilter = showFilter;
    return ReportCapture(request, RunCapture(module->function, request));
}

int Demo(const std::string& folder, bool showFrames, const std::string& library) {
    const std::optional<LoadedModule> module = LoadModule(library);
    if (!module) return kExitModuleMissing;
    return RunDemo(module->function, folder, showFrames);
}

}  // namespace

int main(int argc, char** argv) {
    // A write to a closed standard output (`mirrowen capture --show | head`) then fails with EPIPE,
    // which stops the capture cleanly, instead of raising a SIGPIPE that would end the process
    // between a packet file's creation and its write.
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{"Writes live network traffic to disk, one file per frame.", "mirrowen"};
    app.set_version_flag("--version", "mirrowen " MIRROWEN_VERSION);
    app.require_subcommand(1);

    CLI::App* list = app.add_subcommand("list", "List the adapters libpcap can open");

    std::string adapter = mirrowen::AdapterName("lo");
    std::string folder = "captures";
    std::int64_t fileLimit = 0;
    double durationSeconds = 0;
    std::string library;
    bool showFrames = false;
    constexpr const char* kShowHelp =
        "Print a line per stored frame as its file is written, as tcpdump does; frames that come "
        "faster than the lines can follow are left out, with a line saying how many";
    CLI::App* capture = app.add_subcommand(
        "capture", "Capture one adapter's frames into a folder, one file each, until Ctrl-C");
    capture->add_option("-i,--adapter", adapter, "Adapter to capture, e.g. rpcap://eth0 or eth0")
        ->capture_default_str();
    capture->add_option("-o,--output", folder, "Folder for the packet files 1.hda, 2.hda, ...")
        ->capture_default_str();
    capture->add_option("--count", fileLimit, "Stop at N packet files: exactly N are left")
        ->type_name("N")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{INT32_MAX}));
    capture->add_option("--duration", durationSeconds, "Stop after this many seconds")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, 1e7));
    capture->add_flag("--show", showFrames, kShowHelp);
    std::string filterExpression;
    capture
        ->add_option("--filter", filterExpression,
                     "With --show: lines only for the frames that match this libpcap filter "
                     "expression, as tcpdump takes it; the packet files keep every frame")
        ->type_name("EXPR");
    capture->add_option("--library", library, "The capture module to load (Mirrowen.so)")
        ->type_name("PATH");
    capture->footer(ExitStatusHelp(Command::Capture));

    std::string exportFolder;
    std::string exportOutput;
    CLI::App* exporter = app.add_subcommand(
        "export", "Write a folder's packet files into one pcap file for Wireshark or tshark");
    exporter->add_option("FOLDER", exportFolder, "Folder holding 1.hda, 2.hda, ...")->required();
    exporter->add_option("OUTPUT", exportOutput, "The pcap file to write")->required();
    exporter
        ->add_option("--filter", filterExpression,
                     "Write only the frames that match this libpcap filter expression, as tcpdump "
                     "takes it")
        ->type_name("EXPR");
    exporter->footer(
        "Frame times are the capture times the packet files carry as their modification times, "
        "to the nanosecond. " +
        ExitStatusHelp(Command::Export));

    std::string demoFolder = "mirrowen-demo";
    CLI::App* demo = app.add_subcommand(
        "demo", "Capture a few seconds of loopback traffic the demo sends itself, export a pcap");
    demo->add_option("-o,--output", demoFolder, "Folder for the demo's packet files and pcap")
        ->capture_default_str();
    demo->add_flag("--show", showFrames, kShowHelp);
    demo->add_option("--library", library, "The capture module to load (Mirrowen.so)")
        ->type_name("PATH");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }

    // A filter is an argument like any other: refused before anything starts.
    if (*capture && capture->count("--filter") > 0 && !showFrames) {
        std::cerr
            << "mirrowen: --filter needs --show: it chooses the lines shown, never the frames "
               "stored, as the packet files always keep every frame (export them with "
               "'mirrowen export --filter EXPR')\n";
        return kExitUsage;
    }
    std::optional<FrameFilter> filter;
    if (!CompileFilterOption(filterExpression, filter)) return kExitUsage;
    const FrameFilter* const chosen = filter ? &*filter : nullptr;

    if (*list) return ListAdapters();
    if (*capture) {
        return Capture(adapter, folder, fileLimit, durationSeconds, showFrames, chosen, library);
    }
    if (*exporter) {
        return ReportExport(exportFolder, exportOutput,
                            ExportToPcap(exportFolder, exportOutput, chosen));
    }
    if (*demo) return Demo(demoFolder, showFrames, library);
    return kExitUsage;
}
