// Packet files read as frames, by the export and by the live stream alike: one reader, which
// trusts nothing that stands at a packet file's name, and says why a file cannot be a frame.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace mirrowen::tool {

struct PacketFrame {
    std::vector<unsigned char> bytes;
    timespec captured{};  // the file's modification time, which the capture sets to the frame's
};

// Reads the packet file at `path` into `frame`: nothing when it holds a frame, else why it cannot
// be one (a link, which is never followed; a FIFO, a device or a folder, never opened; no bytes or
// more than a frame's; the system's reason for an open or a read that failed).
std::optional<std::string> ReadPacketFile(const std::string& path, PacketFrame& frame);

// The packet files of `numbers` (the caller's, kept while this lives) in `folder`, read in that
// order by a few threads ahead of the one taken, so that a disk serves several reads at a time
// while the frames are written. At most kFramesAhead frames are held, whatever the folder's size.
class PacketFilesAhead {
  public:
    struct Read {
        std::int32_t number = 0;
        PacketFrame frame;
        std::optional<std::string> failure;  // why it is no frame, as ReadPacketFile says
    };

    PacketFilesAhead(std::string folder, std::span<const std::int32_t> numbers);
    ~PacketFilesAhead();
    PacketFilesAhead(const PacketFilesAhead&) = delete;
    PacketFilesAhead& operator=(const PacketFilesAhead&) = delete;

    // The next packet file in the order of the numbers, valid until the next call; nullptr once
    // all are taken.
    const Read* Next();

  private:
    static constexpr std::size_t kFramesAhead = 64;
    void ReadFiles();

    const std::string folder_;
    const std::span<const std::int32_t> numbers_;
    std::vector<Read> slots_;  // index i of numbers_ in slot i % kFramesAhead
    std::vector<bool> filled_;
    std::mutex mutex_;
    std::condition_variable slotFreed_;
    std::condition_variable slotFilled_;
    std::size_t nextToRead_ = 0;
    std::size_t nextToTake_ = 0;
    bool holding_ = false;  // Next handed out slot nextToTake_, which stays until the next call
    bool stopping_ = false;
    std::vector<std::thread> readers_;
};

}  // namespace mirrowen::tool
