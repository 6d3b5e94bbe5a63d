#include "pcap_export.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "exit_status.h"
#include "library_names.h"
#include "packet_folder.h"
#include "platform/tool_platform.h"

namespace mirrowen::tool {

namespace {

struct PacketFile {
    std::vector<unsigned char> bytes;
    timespec modified{};
};

// False, with the reason on stderr, for a file that cannot be a frame.
bool ReadPacketFile(const std::string& path, PacketFile& packet) {
    platform::FileStatus status;
    if (const int error = platform::StatusOf(path, status); error != 0) {
        std::cerr << "mirrowen: skipped " << path << ": " << platform::SystemErrorText(error)
                  << '\n';
        return false;
    }
    if (!status.regular) {
        std::cerr << "mirrowen: skipped " << path << ": not a regular file\n";
        return false;
    }
    if (status.size == 0 || status.size > kSnapshotLength) {
        std::cerr << "mirrowen: skipped " << path << ": " << status.size
                  << " bytes cannot be a frame (1 to " << kSnapshotLength << " bytes)\n";
        return false;
    }
    packet.bytes.resize(static_cast<std::size_t>(status.size));
    packet.modified = status.modified;
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(packet.bytes.data()), status.size);
    if (!file || file.peek() != std::char_traits<char>::eof()) {
        std::cerr << "mirrowen: skipped " << path << ": it could not be read whole\n";
        return false;
    }
    return true;
}

// The numbers from 1 to the highest of `numbers` (ascending) that are not among them; says which
// on stderr, a few runs at most.
std::int64_t ReportMissingNumbers(const std::vector<std::int32_t>& numbers) {
    constexpr int kRunsNamed = 10;
    std::int64_t missing = 0;
    int runs = 0;
    std::string named;
    std::int64_t expected = 1;
    for (const std::int32_t number : numbers) {
        if (number > expected) {
            missing += number - expected;
            if (runs++ < kRunsNamed) {
                named += (named.empty() ? "" : ", ") + std::to_string(expected);
                if (number - 1 > expected) named += " to " + std::to_string(number - 1);
            }
        }
        expected = std::int64_t{number} + 1;
    }
    if (missing == 0) return 0;
    if (runs > kRunsNamed) named += " and " + std::to_string(runs - kRunsNamed) + " more runs";
    std::cerr << "mirrowen: no packet file for " << missing << " of the numbers 1 to "
              << numbers.back() << ": " << named << '\n';
    return missing;
}

// "-" names standard output, as libpcap's writer took it: `mirrowen export captures - | tshark -r
// -`.
constexpr std::string_view kStandardOutput = "-";

// A pcap file as libpcap writes one with nanosecond times, which Wireshark and tshark read: a file
// header, then a record header and the bytes of each frame, every field in the machine's byte
// order (which the magic number tells readers). Byte for byte what libpcap's own writer made of
// the same frames; written here rather than through the capture library, so that an export needs
// none (and Windows' wpcap.dll need not have the writer, which Wine's lacks).
class PcapWriter {
  public:
    explicit PcapWriter(const std::string& path)
        : file_(path == kStandardOutput ? platform::BinaryOutput()
                                        : std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) {
            openError_ = std::error_code(errno, std::generic_category());
            return;
        }
        const FileHeader header{.magic = kNanosecondMagic,
                                .versionMajor = 2,
                                .versionMinor = 4,
                                .zoneOffset = 0,
                                .timeAccuracy = 0,
                                .snapshotLength = static_cast<std::uint32_t>(kSnapshotLength),
                                .linkType = kEthernetLinkType};
        Write(&header, sizeof header);
    }
    ~PcapWriter() {
        // Only an export abandoned before Finish gets here; its file is incomplete however the
        // close ends.
        if (file_ != nullptr && file_ != stdout) (void)std::fclose(file_);
    }
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Why the file could not be opened; none once it is.
    std::error_code OpenError() const { return openError_; }

    // The frame was stored whole: its length on the wire is the captured one.
    void Append(const timespec& captured, std::span<const unsigned char> frame) {
        const RecordHeader record{.seconds = static_cast<std::uint32_t>(captured.tv_sec),
                                  .nanoseconds = static_cast<std::uint32_t>(captured.tv_nsec),
                                  .capturedLength = static_cast<std::uint32_t>(frame.size()),
                                  .wireLength = static_cast<std::uint32_t>(frame.size())};
        Write(&record, sizeof record);
        Write(frame.data(), frame.size());
    }

    // Whether every byte reached the file; closes it (flushes standard output).
    bool Finish() {
        bool written = !writeFailed_ && std::fflush(file_) == 0 && std::ferror(file_) == 0;
        if (file_ != stdout && std::fclose(file_) != 0) written = false;
        file_ = nullptr;
        return written;
    }

  private:
    static constexpr std::uint32_t kNanosecondMagic = 0xa1b23c4d;
    static constexpr std::uint32_t kEthernetLinkType = 1;  // LINKTYPE_ETHERNET
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

    // Nothing more is written after a failed write, so that no record follows a cut one; Finish
    // tells of the failure.
    void Write(const void* bytes, std::size_t size) {
        if (!writeFailed_) writeFailed_ = std::fwrite(bytes, 1, size, file_) != size;
    }

    std::FILE* file_;
    std::error_code openError_;
    bool writeFailed_ = false;
};

}  // namespace

ExportReport ExportToPcap(const std::string& folder, const std::string& outputPath,
                          const FrameFilter* filter) {
    ExportReport report;
    platform::PathKind kind = platform::PathKind::kMissing;
    if (platform::KindOf(folder, kind) != 0 || kind != platform::PathKind::kFolder) {
        std::cerr << "mirrowen: " << folder << " is not a folder\n";
        return report;
    }
    std::error_code listError;
    const std::vector<std::int32_t> numbers = PacketFileNumbers(folder, listError);
    if (listError) {
        std::cerr << "mirrowen: cannot read the folder " << folder << ": " << listError.message()
                  << '\n';
        return report;
    }
    PcapWriter pcap(outputPath);
    if (pcap.OpenError()) {
        // Worded as libpcap's writer worded it.
        std::cerr << "mirrowen: cannot create " << outputPath << ": " << outputPath << ": "
                  << pcap.OpenError().message() << '\n';
        return report;
    }

    PacketFile packet;
    for (const std::int32_t number : numbers) {
        if (!ReadPacketFile(PacketFilePath(folder, number), packet)) {
            ++report.skipped;
            continue;
        }
        if (filter != nullptr && !filter->Matches(packet.bytes)) {
            ++report.filteredOut;
            continue;
        }
        pcap.Append(packet.modified, packet.bytes);
        ++report.frames;
    }

    report.missing = ReportMissingNumbers(numbers);

    if (!pcap.Finish()) {
        std::cerr << "mirrowen: cannot write " << outputPath << " whole; check free space\n";
        return report;
    }
    report.written = true;
    return report;
}

int ReportExport(const std::string& folder, const std::string& outputPath,
                 const ExportReport& report) {
    if (!report.written) return kExitFailure;
    // Standard output carries the pcap file itself.
    if (outputPath != kStandardOutput) {
        std::cout << "Exported " << report.frames << " frames from " << folder << " to "
                  << outputPath;
        if (report.missing > 0) std::cout << "; missing numbers: " << report.missing << " (above)";
        if (report.filteredOut > 0) {
            std::cout << "; left out " << report.filteredOut
                      << " frames that the filter did not match";
        }
        if (report.skipped > 0) {
            std::cout << "; skipped " << report.skipped << " packet files (above)";
        }
        std::cout << ". View them with: tshark -r " << outputPath << '\n';
    }
    return report.missing > 0 || report.skipped > 0 ? kExitFramesSkipped : kExitSuccess;
}

}  // namespace mirrowen::tool
