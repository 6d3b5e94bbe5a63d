#include "packet_reader.h"

#include <algorithm>

#include "library_names.h"
#include "packet_folder.h"
#include "platform/files.h"
#include "platform/process.h"

namespace mirrowen::tool {

namespace {

// A cold disk serves this many reads at once about twice as fast as one at a time
// (docs/performance.md, "Export").
constexpr std::size_t kReaders = 8;

std::optional<std::string> KindReason(platform::FileKind kind) {
    switch (kind) {
        case platform::FileKind::kRegular:
            return std::nullopt;
        case platform::FileKind::kLink:
            return "a symbolic link, which is never followed";
        case platform::FileKind::kFolder:
            return "a folder, not a packet file";
        case platform::FileKind::kFifo:
            return "a FIFO, not a packet file";
        case platform::FileKind::kDevice:
            return "a device, not a packet file";
        case platform::FileKind::kOther:
            break;
    }
    return "not a regular file";
}

}  // namespace

std::optional<std::string> ReadPacketFile(const std::string& path, PacketFrame& frame) {
    platform::InputFile file(path);
    if (file.Error() != 0) return platform::SystemErrorText(file.Error());
    const platform::FileStatus& status = file.Status();
    if (std::optional<std::string> reason = KindReason(status.kind)) return reason;
    if (status.size == 0 || status.size > kSnapshotLength) {
        return std::to_string(status.size) + " bytes cannot be a frame (1 to " +
               std::to_string(kSnapshotLength) + " bytes)";
    }
    frame.bytes.resize(static_cast<std::size_t>(status.size));
    frame.captured = status.modified;
    std::size_t size = 0;
    while (size < frame.bytes.size()) {
        const std::optional<std::size_t> read =
            file.Read(frame.bytes.data() + size, frame.bytes.size() - size);
        if (!read) return platform::SystemErrorText(file.Error());
        if (*read == 0) {
            return "it was cut short while it was read (" + std::to_string(size) + " of " +
                   std::to_string(status.size) + " bytes)";
        }
        size += *read;
    }
    return std::nullopt;
}

PacketFilesAhead::PacketFilesAhead(std::string folder, std::span<const std::int32_t> numbers)
    : folder_(std::move(folder)),
      numbers_(numbers),
      slots_(kFramesAhead),
      filled_(kFramesAhead, false) {
    const std::size_t readers = std::min(kReaders, numbers_.size());
    for (std::size_t index = 0; index < readers; ++index) {
        readers_.emplace_back([this] { ReadFiles(); });
    }
}

PacketFilesAhead::~PacketFilesAhead() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    slotFreed_.notify_all();
    for (std::thread& reader : readers_) reader.join();
}

void PacketFilesAhead::ReadFiles() {
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            slotFreed_.wait(lock, [this] {
                return stopping_ || nextToRead_ >= numbers_.size() ||
                       nextToRead_ < nextToTake_ + kFramesAhead;
            });
            if (stopping_ || nextToRead_ >= numbers_.size()) return;
            index = nextToRead_++;
        }
        // The slot is this thread's alone until it is marked filled.
        Read& slot = slots_[index % kFramesAhead];
        slot.number = numbers_[index];
        slot.failure = ReadPacketFile(PacketFilePath(folder_, slot.number), slot.frame);
        {
            const std::lock_guard lock(mutex_);
            filled_[index % kFramesAhead] = true;
        }
        slotFilled_.notify_all();
    }
}

const PacketFilesAhead::Read* PacketFilesAhead::Next() {
    std::unique_lock lock(mutex_);
    if (holding_) {
        filled_[nextToTake_ % kFramesAhead] = false;
        ++nextToTake_;
        holding_ = false;
        slotFreed_.notify_all();
    }
    if (nextToTake_ >= numbers_.size()) return nullptr;
    slotFilled_.wait(lock, [this] { return filled_[nextToTake_ % kFramesAhead]; });
    holding_ = true;
    return &slots_[nextToTake_ % kFramesAhead];
}

}  // namespace mirrowen::tool
