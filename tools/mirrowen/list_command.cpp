// `mirrowen list` and `mirrowen -D`: the adapters the capture library can open.
#include <string>

#include "adapter_list.h"
#include "commands.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

class ListCommand : public ToolCommand {
  public:
    explicit ListCommand(CLI::App& program) {
        program.add_flag("-D,--list-adapters", listFlag_,
                         "List the adapters, as 'mirrowen list' does (tcpdump's -D numbers them; "
                         "these are the names -i takes)");
        command_ = program.add_subcommand(
            "list", "List the adapters " + std::string(platform::kCaptureLibrary) +
                        " can open, and whether each carries Ethernet");
    }

    bool Chosen() const override { return listFlag_ || *command_; }

    void CheckCommandLine(const CLI::App& program) const override {
        if (listFlag_ && program.get_subcommands().size() > (*command_ ? 1U : 0U)) {
            throw CLI::ValidationError("-D", "it lists the adapters and takes no other command");
        }
    }

    int Run() const override { return ListAdapters(); }

  private:
    CLI::App* command_ = nullptr;
    bool listFlag_ = false;
};

}  // namespace

std::unique_ptr<ToolCommand> AddListCommand(CLI::App& program) {
    return std::make_unique<ListCommand>(program);
}

}  // namespace mirrowen::tool
