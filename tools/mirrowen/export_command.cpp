// `mirrowen export`: a folder's packet files written into one pcap file.
#include <iostream>
#include <optional>
#include <string>

#include "arguments.h"
#include "commands.h"
#include "exit_status.h"
#include "frame_filter.h"
#include "pcap_export.h"
#include "platform/process.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

class ExportCommand : public ToolCommand {
  public:
    explicit ExportCommand(CLI::App& program) {
        command_ = program.add_subcommand(
            "export", "Write a folder's packet files into one pcap file for Wireshark or tshark");
        command_->add_option("FOLDER", folder_, "Folder holding 1.hda, 2.hda, ...")
            ->required()
            ->check(NonEmptyPath("folder path"));
        command_
            ->add_option("OUTPUT", output_,
                         "The pcap file to write, outside FOLDER; - writes it to standard output "
                         "(mirrowen export captures - | tshark -r -)")
            ->required()
            ->check(NonEmptyPath("output file name"));
        command_
            ->add_option("--filter", filterExpression_,
                         "Write only the frames that match this " +
                             std::string(platform::kCaptureLibrary) +
                             " filter expression, as tcpdump takes it")
            ->type_name("EXPR");
        command_->footer(
            "Every packet file is written, in the order of its number; numbers missing between 1 "
            "and the highest, and files that cannot be frames (links, FIFOs, devices and folders "
            "are never followed or opened), are named on stderr. Frame times are the capture "
            "times the packet files carry as their modification times, to the nanosecond. " +
            ExitStatusHelp(Command::Export));
    }

    bool Chosen() const override { return static_cast<bool>(*command_); }

    int Run() const override {
        // As with capture -w -: a pcap file is no text for a terminal.
        if (output_ == kStandardOutput && platform::OutputIsTerminal()) {
            std::cerr << "mirrowen: - writes the pcap file to standard output, which is a "
                         "terminal: pipe it into a reader (mirrowen export "
                      << folder_ << " - | tshark -r -), or name a file\n";
            return kExitUsage;
        }
        std::optional<FrameFilter> filter;
        if (!CompileFilterOption(filterExpression_, filter)) return kExitUsage;
        return ReportExport(folder_, output_,
                            ExportToPcap(folder_, output_, filter ? &*filter : nullptr));
    }

  private:
    CLI::App* command_ = nullptr;
    std::string folder_;
    std::string output_;
    std::string filterExpression_;
};

}  // namespace

std::unique_ptr<ToolCommand> AddExportCommand(CLI::App& program) {
    return std::make_unique<ExportCommand>(program);
}

}  // namespace mirrowen::tool
