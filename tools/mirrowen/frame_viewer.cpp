#include "frame_viewer.h"

#include <cctype>
#include <vector>

#include "platform/process.h"
#include "tool_constants.h"

namespace mirrowen::tool {

namespace {

// Each viewer's one line per frame, numbered from 1, printed as soon as the frame is read (-l):
// tcpdump's lines with link addresses and no name lookups, tshark's summary lines.
std::vector<std::string> ViewerArguments(const std::string& name) {
    if (name == "tcpdump") return {"-n", "-e", "-l", "-#", "-r", "-"};
    return {"-n", "-l", "-r", "-"};
}

}  // namespace

std::optional<FrameViewerProgram> FindFrameViewer() {
    for (const char* name : {"tcpdump", "tshark"}) {
        if (std::optional<std::filesystem::path> path = platform::FindProgram(name)) {
            return FrameViewerProgram{.name = name, .path = *path};
        }
    }
    return std::nullopt;
}

std::string NoFrameViewerText() {
    return "--show runs the frames through tcpdump, or tshark where tcpdump is missing, and "
           "neither is installed: " +
           std::string(platform::kFrameViewerInstall) +
           "; or stream them to a reader of your own with -w - (mirrowen capture -w - | tcpdump "
           "-n -e -r -)";
}

FrameViewer::FrameViewer(const FrameViewerProgram& program)
    : process_(program.path, ViewerArguments(program.name)) {
    if (process_.Error() == 0) relay_ = std::thread([this] { Relay(); });
}

FrameViewer::~FrameViewer() { Finish(); }

void FrameViewer::FrameWritten(std::int64_t number) {
    const std::lock_guard lock(mutex_);
    fileNumbers_.push_back(number);
}

void FrameViewer::Finish() {
    process_.CloseInput();
    if (relay_.joinable()) relay_.join();
}

void FrameViewer::Relay() {
    std::string pending;
    char buffer[16384];
    for (;;) {
        const std::optional<std::size_t> read = process_.ReadOutput(buffer, sizeof buffer);
        const bool ended = !read || *read == 0;
        if (!ended) pending.append(buffer, *read);
        std::string lines;
        std::size_t start = 0;
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             start = end + 1, end = pending.find('\n', start)) {
            lines += Renumbered(pending.substr(start, end + 1 - start));
        }
        pending.erase(0, start);
        if (ended) lines += pending;
        if (!lines.empty() && !platform::WriteOutput(lines)) {
            outputFailed_.store(true);
            // The viewer's next line finds no reader, and it ends.
            process_.CloseOutput();
            return;
        }
        if (ended) return;
    }
}

std::string FrameViewer::Renumbered(std::string line) {
    // The line end written out again is this platform's (tshark.exe ends its lines in CR LF).
    if (line.ends_with("\r\n")) line.erase(line.size() - 2, 1);
    // "  17  12:00:00.123456 ..." (tcpdump) or "   17 0.000000 ..." (tshark): a frame's line
    // starts with its number, the next the viewer gives; any other line is passed on as it is.
    std::size_t digits = 0;
    while (digits < line.size() && line[digits] == ' ') ++digits;
    const std::size_t first = digits;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits])) != 0) {
        ++digits;
    }
    if (digits == first || digits == line.size() || line[digits] != ' ' ||
        line.substr(first, digits - first) != std::to_string(viewerNumber_ + 1)) {
        return line;
    }
    std::int64_t fileNumber = 0;
    {
        const std::lock_guard lock(mutex_);
        if (fileNumbers_.empty()) return line;
        fileNumber = fileNumbers_.front();
        fileNumbers_.pop_front();
    }
    ++viewerNumber_;
    std::string number = std::to_string(fileNumber);
    if (number.size() < digits) number.insert(0, digits - number.size(), ' ');
    return number + line.substr(digits);
}

}  // namespace mirrowen::tool
