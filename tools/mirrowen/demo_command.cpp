// `mirrowen demo`: a few seconds of loopback traffic that the demo sends itself, captured and
// exported; only where the platform has the demo (kHasDemo).
#include <optional>
#include <string>

#include "arguments.h"
#include "command_options.h"
#include "commands.h"
#include "demo.h"
#include "exit_status.h"
#include "module_loader.h"

namespace mirrowen::tool {

namespace {

class DemoCommand : public ToolCommand {
  public:
    explicit DemoCommand(CLI::App& program) {
        command_ = program.add_subcommand(
            "demo",
            "Capture a few seconds of loopback traffic the demo sends itself, export a pcap");
        command_->add_option("-o,--output", folder_, "Folder for the demo's packet files and pcap")
            ->capture_default_str()
            ->check(NonEmptyPath("folder path"));
        AddShowFlag(*command_, showFrames_);
        AddLibraryOption(*command_, library_);
    }

    bool Chosen() const override { return static_cast<bool>(*command_); }

    int Run() const override {
        std::optional<FrameViewerProgram> viewer;
        if (!FindViewerForShow(showFrames_, viewer)) return kExitFailure;
        const std::optional<LoadedModule> module = LoadModule(library_);
        if (!module) return kExitModuleMissing;
        return RunDemo(module->function, folder_, viewer);
    }

  private:
    CLI::App* command_ = nullptr;
    std::string folder_ = "mirrowen-demo";
    bool showFrames_ = false;
    std::string library_;
};

}  // namespace

std::unique_ptr<ToolCommand> AddDemoCommand(CLI::App& program) {
    return std::make_unique<DemoCommand>(program);
}

}  // namespace mirrowen::tool
