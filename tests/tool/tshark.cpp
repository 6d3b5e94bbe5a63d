#include "tshark.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string_view>

#include "child_process.h"

namespace mirrowen::tooltest {

namespace fs = std::filesystem;

std::string Hex(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

std::string WhyTsharkCannotRun() {
    return Run("tshark", {"--version"}).status != 0 ? "needs tshark" : "";
}

std::vector<std::string> TsharkFrames(const fs::path& pcap, const std::string& displayFilter) {
    std::vector<std::string> arguments = {"-r", pcap.string(), "-T", "json", "-x"};
    if (!displayFilter.empty()) arguments.insert(arguments.end(), {"-Y", displayFilter});
    const Finished tshark = Run("tshark", arguments);
    EXPECT_TRUE(tshark.exited && tshark.status == 0) << tshark.errors;
    // "frame_raw": ["<hex>", ...]; std::regex would recurse too deep on a 64 KiB frame.
    static constexpr std::string_view kKey = "\"frame_raw\"";
    std::vector<std::string> frames;
    for (std::size_t key = tshark.output.find(kKey); key != std::string::npos;
         key = tshark.output.find(kKey, key + kKey.size())) {
        const std::size_t open = tshark.output.find('"', key + kKey.size());
        const std::size_t close = tshark.output.find('"', open + 1);
        if (open == std::string::npos || close == std::string::npos) break;
        frames.push_back(tshark.output.substr(open + 1, close - open - 1));
    }
    return frames;
}

std::vector<std::map<std::string, std::string>> TsharkFields(
    const fs::path& pcap, const std::vector<std::string>& fields) {
    std::vector<std::string> arguments = {"-r",     pcap.string(), "-T",
                                          "fields", "-E",          "separator=/t"};
    for (const std::string& field : fields) arguments.insert(arguments.end(), {"-e", field});
    const Finished tshark = Run("tshark", arguments);
    EXPECT_TRUE(tshark.exited && tshark.status == 0) << tshark.errors;
    std::vector<std::map<std::string, std::string>> frames;
    std::istringstream lines(tshark.output);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string>& frame = frames.emplace_back();
        std::istringstream values(line);
        for (const std::string& field : fields) std::getline(values, frame[field], '\t');
    }
    return frames;
}

std::vector<std::string> TsharkTimes(const fs::path& pcap) {
    std::vector<std::string> times;
    for (auto& frame : TsharkFields(pcap, {"frame.time_epoch"})) {
        times.push_back(frame["frame.time_epoch"]);
    }
    return times;
}

}  // namespace mirrowen::tooltest
