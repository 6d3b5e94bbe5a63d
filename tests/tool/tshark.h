// What tshark reads in a pcap file, for the tests of the tool's exports on Linux and on Windows.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mirrowen::tooltest {

// Bytes in lowercase hex, as tshark gives a frame's.
std::string Hex(const std::vector<unsigned char>& bytes);

// Why tshark cannot be run here; empty when it can.
std::string WhyTsharkCannotRun();

// Every frame of a pcap file as tshark reads it, in hex; those a display filter shows, if given.
std::vector<std::string> TsharkFrames(const std::filesystem::path& pcap,
                                      const std::string& displayFilter = {});

// tshark's reading of each frame of a pcap file: the given fields by name, empty where absent.
std::vector<std::map<std::string, std::string>> TsharkFields(
    const std::filesystem::path& pcap, const std::vector<std::string>& fields);

// Each frame's time as tshark gives it, seconds since the epoch: "1700000000.123456789".
std::vector<std::string> TsharkTimes(const std::filesystem::path& pcap);

}  // namespace mirrowen::tooltest
