#pragma once

#include <cstddef>
#include <cstdint>

#include "common/host_integer.h"
#include "platform/platform.h"

namespace mirrowen::packetfile {

// Writes "<folder><separator><number>.hda" into `name`; false, with nothing written past `size`,
// when the name and its NUL do not fit.
bool FormatPacketFileName(const char* folder, std::int32_t number, char* name, std::size_t size);

// Stores the frames of one call as the packet files 1.hda, 2.hda, ... of its output folder, and
// keeps the host's file count at the number of the last one completely written.
class PacketFileWriter {
  public:
    // `folderPath` is the caller's own buffer; it is read afresh for every file.
    PacketFileWriter(const char* folderPath, HostInteger fileCount)
        : folderPath_(folderPath), fileCount_(fileCount) {}

    // Creates and writes the next packet file, sets its modification time to the frame's capture
    // time, closes it, then raises the count to its number. When the name, the create, the write
    // or the close failed, returns the system's reason for the first failure; the failed file is
    // then removed if it was created, and the count is left as it was (its number is used up all
    // the same). A time that cannot be set is no failure: the file keeps the time it was written,
    // and the frame is not lost over it.
    platform::SystemError Store(const unsigned char* bytes, std::uint32_t length,
                                platform::CaptureTime time);

  private:
    const char* folderPath_;
    HostInteger fileCount_;
    std::int32_t fileNumber_ = 0;
    char fileName_[platform::kPathLimit];
};

}  // namespace mirrowen::packetfile
