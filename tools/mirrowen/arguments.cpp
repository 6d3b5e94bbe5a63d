#include "arguments.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "library_names.h"

namespace mirrowen::tool {

namespace {

constexpr double kShortestDurationSeconds = 0.001;  // "1 ms" below

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
                return "takes only - (standard output): the packet files are the capture; "
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

CLI::Validator DurationSeconds() {
    // Case-sensitive, as "5M" could be read as months.
    const CLI::AsNumberWithUnit units(
        std::map<std::string, double>{{"h", 3600}, {"m", 60}, {"s", 1}},
        CLI::AsNumberWithUnit::CASE_SENSITIVE);
    return {[units](std::string& value) {
                const std::string given = value;
                // Only the forms the help names: CLI11 would also take blanks, exponents and a
                // unit alone ("h", an hour).
                if (given.find_first_not_of("0123456789.hms") != std::string::npos ||
                    given.find_first_of("0123456789.") != 0) {
                    value.clear();
                }
                try {
                    units(value);  // the value in seconds, in its place
                } catch (const CLI::ValidationError&) {
                    value.clear();  // CLI11's own words name no range: the line below does
                }
                // The whole value, as the option's conversion takes it; a range check that fails
                // also for NaN.
                double seconds = 0;
                const auto [end, error] =
                    std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (!value.empty() && error == std::errc{} && end == value.data() + value.size() &&
                    seconds >= kShortestDurationSeconds && seconds <= kLongestDurationSeconds) {
                    return std::string();
                }
                value = given;
                return "'" + given + "' is not a duration from 1 ms to " +
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
