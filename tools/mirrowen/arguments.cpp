#include "arguments.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "library_names.h"

namespace mirrowen::tool {

namespace {

constexpr double kShortestDurationSeconds = 0.001;  // "1 ms" below

struct DurationUnit {
    std::string_view suffix;
    double seconds;
};
constexpr DurationUnit kDurationUnits[] = {{"h", 3600}, {"m", 60}, {"s", 1}};

}  // namespace

CLI::Validator NonEmptyPath(const std::string& what) {
    return {[what](const std::string& value) {
                return value.empty() ? "the " + what + " is empty" : std::string();
            },
            "", "not empty"};
}

CLI::Validator AdapterArgument() {
    return {[](const std::string& value) -> std::string {
                if (value.empty()) return "the adapter name is empty; 'mirrowen list' shows them";
                if (value == kAdapterPrefix) {
                    return std::string(kAdapterPrefix) +
                           " names no adapter; 'mirrowen list' shows them";
                }
                return {};
            },
            "", "adapter"};
}

CLI::Validator StandardOutputOnly() {
    return {[](const std::string& value) -> std::string {
                if (value == "-") return {};
                return "-w takes only - (standard output): the packet files are the capture; "
                       "'mirrowen export' writes them into a pcap file";
            },
            "", "-"};
}

CLI::Validator WholeNumber(std::int64_t lowest, std::int64_t highest) {
    return {[lowest, highest](const std::string& value) {
                std::int64_t number = 0;
                const auto [end, error] =
                    std::from_chars(value.data(), value.data() + value.size(), number);
                if (!value.empty() && error == std::errc{} && end == value.data() + value.size() &&
                    number >= lowest && number <= highest) {
                    return std::string();
                }
                return "'" + value + "' is not a whole number from " + std::to_string(lowest) +
                       " to " + std::to_string(highest);
            },
            "", "whole number"};
}

std::optional<double> DurationSeconds(std::string_view text) {
    double unit = 1;
    for (const DurationUnit& candidate : kDurationUnits) {
        if (text.ends_with(candidate.suffix)) {
            text.remove_suffix(candidate.suffix.size());
            unit = candidate.seconds;
            break;
        }
    }
    double number = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    const double seconds = number * unit;
    if (!std::isfinite(seconds) || seconds < kShortestDurationSeconds ||
        seconds > kLongestDurationSeconds) {
        return std::nullopt;
    }
    return seconds;
}

CLI::Validator DurationArgument() {
    return {[](const std::string& value) {
                if (DurationSeconds(value)) return std::string();
                return "'" + value + "' is not a duration from 1 ms to " +
                       std::to_string(static_cast<long long>(kLongestDurationSeconds)) +
                       " s: give seconds (30, 30s, 0.5), minutes (5m) or hours (1h)";
            },
            "", "duration"};
}

std::string OneLineFailure(const CLI::App* app, const CLI::Error& error) {
    std::string text = error.what();
    // CLI11 words it "--count: 1 required N missing".
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        text = text.substr(0, text.find(':')) + " needs a value";
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::string help = "mirrowen";
    for (const CLI::App* command : app->get_subcommands()) help += " " + command->get_name();
    return "mirrowen: " + text + "; see " + help + " --help\n";
}

}  // namespace mirrowen::tool
