#include "pcap_writer.h"

#include <cerrno>

#include "library_names.h"

namespace mirrowen::tool {

namespace {

constexpr std::uint32_t kNanosecondMagic = 0xa1b23c4d;
constexpr std::uint32_t kEthernetLinkType = 1;  // LINKTYPE_ETHERNET

struct FileHeader {
    std::uint32_t magic;
    std::uint16_t versionMajor;
    std::uint16_t versionMinor;
    std::int32_t zoneOffset;
    std::uint32_t timeAccuracy;
    std::uint32_t snapshotLength;
    std::uint32_t linkType;
};
// The seconds in 32 bits, as the format has them.
struct RecordHeader {
    std::uint32_t seconds;
    std::uint32_t nanoseconds;
    std::uint32_t capturedLength;
    std::uint32_t wireLength;
};
static_assert(sizeof(FileHeader) == 24 && sizeof(RecordHeader) == 16);

}  // namespace

PcapWriter::PcapWriter(std::FILE* file) : file_(file) {
    const FileHeader header{.magic = kNanosecondMagic,
                            .versionMajor = 2,
                            .versionMinor = 4,
                            .zoneOffset = 0,
                            .timeAccuracy = 0,
                            .snapshotLength = static_cast<std::uint32_t>(kSnapshotLength),
                            .linkType = kEthernetLinkType};
    Write(&header, sizeof header);
}

void PcapWriter::Append(const timespec& captured, std::span<const unsigned char> frame) {
    const RecordHeader record{.seconds = static_cast<std::uint32_t>(captured.tv_sec),
                              .nanoseconds = static_cast<std::uint32_t>(captured.tv_nsec),
                              .capturedLength = static_cast<std::uint32_t>(frame.size()),
                              .wireLength = static_cast<std::uint32_t>(frame.size())};
    Write(&record, sizeof record);
    Write(frame.data(), frame.size());
}

bool PcapWriter::Flush() {
    if (!error_ && std::fflush(file_) != 0)
        error_ = std::error_code(errno, std::generic_category());
    return !error_;
}

void PcapWriter::Write(const void* bytes, std::size_t size) {
    if (!error_ && std::fwrite(bytes, 1, size, file_) != size) {
        error_ = std::error_code(errno, std::generic_category());
    }
}

}  // namespace mirrowen::tool
