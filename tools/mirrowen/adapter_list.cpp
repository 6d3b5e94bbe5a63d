#include "adapter_list.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "capture_library_advice.h"
#include "exit_status.h"
#include "library_names.h"
#include "platform/capture_library.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

struct ListedAdapter {
    std::string source;
    std::string link;
    std::string flags;
    std::string description;
};

std::string FlagText(const platform::Adapter& adapter) {
    std::string text;
    const auto add = [&text](const char* word) {
        if (!text.empty()) text += ", ";
        text += word;
    };
    if (adapter.up) add("up");
    if (adapter.running) add("running");
    if (adapter.loopback) add("loopback");
    if (adapter.wireless) add("wireless");
    return text.empty() ? "down" : text;
}

// "Ethernet", "not Ethernet (Raw IP)", or "unknown" where the device cannot be opened; `denied`
// is set when that was for want of the right to capture.
std::string LinkText(const std::string& device, bool& denied) {
    const platform::OpenTrial trial = platform::TryOpen(device, false);
    if (trial.status == platform::OpenStatus::kDenied) denied = true;
    if (trial.status != platform::OpenStatus::kOpened) return "unknown";
    if (trial.ethernet) return "Ethernet";
    return "not Ethernet (" +
           (trial.linkDescription.empty() ? "unknown link" : trial.linkDescription) + ")";
}

}  // namespace

int ListAdapters() {
    std::string error;
    const std::optional<std::vector<platform::Adapter>> found = platform::FindAdapters(error);
    if (!found) {
        std::cerr << "mirrowen: " << error << CaptureLibraryAdvice() << '\n';
        return kExitFailure;
    }
    std::vector<ListedAdapter> adapters;
    bool denied = false;
    for (const platform::Adapter& adapter : *found) {
        adapters.push_back({AdapterName(adapter.device), LinkText(adapter.device, denied),
                            FlagText(adapter), adapter.description});
    }
    if (adapters.empty()) {
        std::cerr << "mirrowen: " << platform::kCaptureLibrary << " found no adapters; "
                  << platform::kNoAdaptersHint << '\n';
        return kExitFailure;
    }

    std::size_t sourceWidth = 0;
    std::size_t linkWidth = 0;
    std::size_t flagsWidth = 0;
    for (const ListedAdapter& adapter : adapters) {
        sourceWidth = std::max(sourceWidth, adapter.source.size());
        linkWidth = std::max(linkWidth, adapter.link.size());
        flagsWidth = std::max(flagsWidth, adapter.flags.size());
    }
    for (const ListedAdapter& adapter : adapters) {
        std::string line = adapter.source;
        line.resize(sourceWidth + 2, ' ');
        line += adapter.link;
        line.resize(line.size() + linkWidth + 2 - adapter.link.size(), ' ');
        line += adapter.flags;
        if (!adapter.description.empty()) {
            line.resize(line.size() + flagsWidth + 2 - adapter.flags.size(), ' ');
            line += adapter.description;
        }
        std::cout << line << '\n';
    }
    if (denied) {
        std::cerr << "mirrowen: whether an adapter marked unknown carries Ethernet shows only "
                     "when it can be opened, which needs "
                  << platform::kCaptureRights << '\n';
    }
    return kExitSuccess;
}

}  // namespace mirrowen::tool
