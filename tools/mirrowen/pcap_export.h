// Writes a folder's packet files 1.hda, 2.hda, ... into one pcap file through libpcap's writer.
#pragma once

#include <cstdint>
#include <string>

#include "frame_filter.h"

namespace mirrowen::tool {

struct ExportReport {
    bool written = false;  // false: the pcap file could not be written (a line on stderr says why)
    std::int64_t frames = 0;
    std::int64_t skipped = 0;  // packet files that cannot be a frame, each reported on stderr
    // Frames the filter did not match.
    std::int64_t filteredOut = 0;
};

// Reads the packet files in order up to the first missing number. Each frame's timestamp is its
// file's modification time, which the capture sets to the frame's capture time, written to the
// nanosecond. With a filter, only the frames it matches are written.
ExportReport ExportToPcap(const std::string& folder, const std::string& outputPath,
                          const FrameFilter* filter = nullptr);

// The exit status and one-line summary for an export.
int ReportExport(const std::string& folder, const std::string& outputPath,
                 const ExportReport& report);

}  // namespace mirrowen::tool
