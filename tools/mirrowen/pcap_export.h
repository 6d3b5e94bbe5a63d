// Writes a folder's packet files 1.hda, 2.hda, ... into one pcap file, as libpcap writes one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame_filter.h"

namespace mirrowen::tool {

// "-" names standard output, as libpcap's writer took it: `mirrowen export captures - | tshark -r
// -`.
inline constexpr std::string_view kStandardOutput = "-";

struct ExportReport {
    bool written = false;  // false: nothing or not all could be written (a line on stderr says why)
    bool readerWentAway = false;  // the pcap went to a pipe whose reader closed it: a normal end
    std::int64_t frames = 0;
    std::int64_t skipped = 0;  // packet files that cannot be a frame, each reported on stderr
    std::int64_t missing = 0;  // numbers from 1 to the highest without a packet file (on stderr)
    std::int64_t filteredOut = 0;  // frames the filter did not match
};

// Writes every packet file of the folder in the order of its number, and names the numbers missing
// between 1 and the highest. Each frame's timestamp is its file's modification time, which the
// capture sets to the frame's capture time, written to the nanosecond. With a filter, only the
// frames it matches are written. An output in the folder itself is refused before anything is
// written, and an output file that cannot be written whole is removed.
ExportReport ExportToPcap(const std::string& folder, const std::string& outputPath,
                          const FrameFilter* filter = nullptr);

// The exit status and one-line summary for an export.
int ReportExport(const std::string& folder, const std::string& outputPath,
                 const ExportReport& report);

}  // namespace mirrowen::tool
