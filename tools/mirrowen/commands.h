// The program's commands (list, capture, export and, where the platform has it, demo): each
// registers its subcommand and its options on the program's command line when it is added, and
// after the parse runs if the command line chose it.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>

namespace mirrowen::tool {

class ToolCommand {
  public:
    virtual ~ToolCommand() = default;

    // Whether the parsed command line chose this command.
    virtual bool Chosen() const = 0;
    // After the parse, before any command runs: throws a CLI::ParseError for a command line that
    // the command refuses as a whole.
    virtual void CheckCommandLine(const CLI::App& program) const { (void)program; }
    // Refuses what the options cannot mean together, then does the command's work; the exit
    // status.
    virtual int Run() const = 0;
};

// `list`, and the program's own -D, which does the same.
std::unique_ptr<ToolCommand> AddListCommand(CLI::App& program);
std::unique_ptr<ToolCommand> AddCaptureCommand(CLI::App& program);
std::unique_ptr<ToolCommand> AddExportCommand(CLI::App& program);
// Only where the platform has the demo (kHasDemo): elsewhere it is never compiled.
std::unique_ptr<ToolCommand> AddDemoCommand(CLI::App& program);

}  // namespace mirrowen::tool
