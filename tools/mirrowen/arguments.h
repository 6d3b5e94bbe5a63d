// What the command line may hold beyond its options' types: each check answers one line saying
// what is wrong with a value, so that no path, name or number can reach the commands unchecked.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace mirrowen::tool {

// A path that must not be empty; `what` names it in the message ("folder path").
CLI::Validator NonEmptyPath(const std::string& what);

// An adapter as -i takes it: a device name, or "rpcap://" and one.
CLI::Validator AdapterArgument();

// -w's value: only "-", standard output; a pcap file of the capture is the export's.
CLI::Validator StandardOutputOnly();

// A whole number from `lowest` to `highest`, for an option whose value names it (CLI11's own range
// check calls a word out of range).
CLI::Validator WholeNumber(std::int64_t lowest, std::int64_t highest);

// A duration: seconds ("30", "30s", "0.5"), minutes ("5m") or hours ("1h"), from 1 ms to
// kLongestDurationSeconds, turned into seconds by CLI11's own unit parsing for an option of type
// double.
inline constexpr double kLongestDurationSeconds = 1e7;
CLI::Validator DurationSeconds();

// The one line a bad command line gets on stderr, pointing to the help of the command at hand.
std::string OneLineFailure(const CLI::App* app, const CLI::Error& error);

}  // namespace mirrowen::tool
