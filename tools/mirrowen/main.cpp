// mirrowen: the command-line host of the Mirrowen capture module.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <memory>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "exit_status.h"
#include "platform/process.h"
#include "tool_constants.h"

namespace {

using namespace mirrowen::tool;

int Run(int argc, char** argv) {
    platform::PrepareProcess();
    CLI::App app{"Writes live network traffic to disk, one file per frame.", "mirrowen"};
    app.set_version_flag("--version", "mirrowen " MIRROWEN_VERSION);
    app.require_subcommand(0, 1);
    app.failure_message(OneLineFailure);
    // The same options everywhere: on Windows, CLI11 would otherwise take "/x" for an option, and
    // a path such as /captures with it. Set before the commands, which inherit it.
    app.allow_windows_style_options(false);
    std::vector<std::unique_ptr<ToolCommand>> commands;
    commands.push_back(AddListCommand(app));
    commands.push_back(AddCaptureCommand(app));
    commands.push_back(AddExportCommand(app));
    // Only where the platform has the demo: elsewhere this is never compiled, nor the demo's files.
    if constexpr (platform::kHasDemo) commands.push_back(AddDemoCommand(app));

    const auto chosen = [&commands] {
        return std::find_if(
            commands.begin(), commands.end(),
            [](const std::unique_ptr<ToolCommand>& command) { return command->Chosen(); });
    };
    try {
        app.parse(argc, argv);
        for (const std::unique_ptr<ToolCommand>& command : commands) {
            command->CheckCommandLine(app);
        }
        if (chosen() == commands.end()) {
            throw CLI::RequiredError(platform::kHasDemo
                                         ? "a command (list, capture, export or demo) or -D"
                                         : "a command (list, capture or export) or -D");
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }
    return (*chosen())->Run();
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
