#include "pcap_export.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "exit_status.h"
#include "library_names.h"
#include "packet_folder.h"
#include "packet_reader.h"
#include "pcap_writer.h"
#include "platform/files.h"
#include "platform/process.h"
#include "printed_text.h"

namespace mirrowen::tool {

namespace {

using Clock = std::chrono::steady_clock;

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

bool SameFile(const platform::FileStatus& one, const platform::FileStatus& other) {
    return one.device == other.device && one.identity == other.identity;
}

// Why the output would write over a file of the folder being read, or take the pcap in as a frame
// of the next export; empty when it does neither. A link at the output's name is followed by the
// write, so where it leads counts; a second name of a packet file (a hard link) counts as well.
std::string WhyOutputIsInTheFolder(const std::string& folder, const std::string& outputPath,
                                   const std::vector<std::int32_t>& numbers) {
    platform::FileStatus folderStatus;
    if (platform::StatusOf(folder, folderStatus) != 0) return {};
    std::error_code error;
    std::filesystem::path written = std::filesystem::weakly_canonical(outputPath, error);
    if (error) written = outputPath;
    std::filesystem::path parent = written.parent_path();
    if (parent.empty()) parent = ".";
    platform::FileStatus parentStatus;
    if (platform::StatusOf(parent.string(), parentStatus) == 0 &&
        SameFile(parentStatus, folderStatus)) {
        return "it is in the folder it reads";
    }
    platform::FileStatus outputStatus;
    if (platform::StatusOf(outputPath, outputStatus) != 0 || outputStatus.links < 2) return {};
    for (const std::int32_t number : numbers) {
        platform::FileStatus packetStatus;
        if (platform::StatusOf(PacketFilePath(folder, number), packetStatus) == 0 &&
            SameFile(packetStatus, outputStatus)) {
            return "it is another name of " + PacketFileName(number) + " of the folder it reads";
        }
    }
    return {};
}

// The pcap's destination: standard output, a device or FIFO written as it is, or a file of its own,
// which is removed when it cannot be written whole.
class PcapOutput {
  public:
    explicit PcapOutput(const std::string& path) : path_(path) {
        if (path == kStandardOutput) {
            file_ = platform::BinaryOutput();
            return;
        }
        platform::FileStatus status;
        removable_ =
            platform::StatusOf(path, status) != 0 || status.kind == platform::FileKind::kRegular;
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) {
            openError_ = std::error_code(errno, std::generic_category());
            return;
        }
        // Fewer, larger writes; the buffer is the stream's until it is closed.
        constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
        buffer_ = std::make_unique<char[]>(kBufferBytes);
        (void)std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
    }
    ~PcapOutput() {
        if (file_ != nullptr && file_ != stdout) (void)std::fclose(file_);
    }
    PcapOutput(const PcapOutput&) = delete;
    PcapOutput& operator=(const PcapOutput&) = delete;

    std::FILE* File() const { return file_; }
    std::error_code OpenError() const { return openError_; }

    // Closes the file: the reason it could not be completed, or none.
    std::error_code Close() {
        std::error_code error;
        if (file_ != stdout && std::fclose(file_) != 0) {
            error = std::error_code(errno, std::generic_category());
        }
        file_ = nullptr;
        return error;
    }
    // After a failure: a file of its own is removed, so that no cut pcap is left looking whole.
    // What is left to say of it.
    std::string Discard() {
        if (file_ != nullptr) (void)Close();
        if (!removable_) return {};
        if (const int error = platform::RemoveFile(path_); error != 0) {
            return "; the part written could not be removed: " + platform::SystemErrorText(error);
        }
        return "; the part written is removed";
    }

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    std::error_code openError_;
    bool removable_ = false;
};

// On a terminal, a line redrawn a few times a second: files done of all, the rate, the time left.
class ExportProgress {
  public:
    explicit ExportProgress(std::size_t files) : files_(files) {}
    ~ExportProgress() { Clear(); }
    ExportProgress(const ExportProgress&) = delete;
    ExportProgress& operator=(const ExportProgress&) = delete;

    void Done(std::size_t done) {
        using namespace std::chrono_literals;
        constexpr std::size_t kFilesBetweenLooks = 256;
        if (!shown_ || done % kFilesBetweenLooks != 0) return;
        const Clock::time_point now = Clock::now();
        if (now - lastDrawn_ < 250ms) return;
        lastDrawn_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        const auto left =
            static_cast<long long>(rate > 0 ? static_cast<double>(files_ - done) / rate : 0);
        char line[160];
        std::cerr << PrintedText(line, std::snprintf(line, sizeof line,
                                                     "\r\033[K%zu of %zu files, %.0f files/s, "
                                                     "%lld min %02lld s left",
                                                     done, files_, rate, left / 60, left % 60))
                  << std::flush;
        drawn_ = true;
    }

    // Before another line on stderr.
    void Clear() {
        if (drawn_) std::cerr << "\r\033[K" << std::flush;
        drawn_ = false;
    }

  private:
    const std::size_t files_;
    const bool shown_ = platform::ErrorRedrawsLines();
    const Clock::time_point start_ = Clock::now();
    Clock::time_point lastDrawn_ = start_;
    bool drawn_ = false;
};

}  // namespace

ExportReport ExportToPcap(const std::string& folder, const std::string& outputPath,
                          const FrameFilter* filter) {
    ExportReport report;
    platform::PathKind kind = platform::PathKind::kMissing;
    if (const int error = platform::KindOf(folder, kind); error != 0) {
        std::cerr << "mirrowen: cannot read the folder " << folder << ": "
                  << platform::SystemErrorText(error) << '\n';
        return report;
    }
    if (kind != platform::PathKind::kFolder) {
        std::cerr << "mirrowen: " << folder
                  << (kind == platform::PathKind::kMissing ? " does not exist" : " is not a folder")
                  << '\n';
        return report;
    }
    std::error_code listError;
    const FolderListing listing = ListPacketFolder(folder, listError);
    if (listError) {
        std::cerr << "mirrowen: cannot read the folder " << folder << ": " << listError.message()
                  << '\n';
        return report;
    }
    if (listing.otherNames > 0) {
        std::string names;
        for (const std::string& name : listing.otherSample) {
            names += (names.empty() ? "" : ", ") + name;
        }
        if (listing.otherNames > static_cast<std::int64_t>(listing.otherSample.size())) {
            names += ", ...";
        }
        std::cerr << "mirrowen: left out " << Plural(listing.otherNames, "file")
                  << " of the folder whose names are not those of packet files (1.hda, 2.hda, "
                     "...): "
                  << names << '\n';
    }
    const std::vector<std::int32_t>& numbers = listing.numbers;
    if (numbers.empty()) {
        std::cerr << "mirrowen: the folder " << folder
                  << " holds no packet files (1.hda, 2.hda, ...): nothing to export\n";
        return report;
    }
    if (outputPath != kStandardOutput) {
        if (const std::string why = WhyOutputIsInTheFolder(folder, outputPath, numbers);
            !why.empty()) {
            std::cerr << "mirrowen: the output " << outputPath << " cannot be written: " << why
                      << " (" << folder << "), whose files it would write over or add to; write it "
                      << "elsewhere\n";
            return report;
        }
    }
    PcapOutput output(outputPath);
    if (output.OpenError()) {
        std::cerr << "mirrowen: cannot create " << outputPath << ": "
                  << output.OpenError().message() << '\n';
        return report;
    }

    PcapWriter pcap(output.File());
    {
        ExportProgress progress(numbers.size());
        PacketFilesAhead files(folder, numbers);
        std::size_t done = 0;
        for (const PacketFilesAhead::Read* read = files.Next(); read != nullptr && !pcap.Error();
             read = files.Next()) {
            progress.Done(++done);
            if (read->failure) {
                progress.Clear();
                std::cerr << "mirrowen: skipped " << PacketFilePath(folder, read->number) << ": "
                          << *read->failure << '\n';
                ++report.skipped;
                continue;
            }
            if (filter != nullptr && !filter->Matches(read->frame.bytes)) {
                ++report.filteredOut;
                continue;
            }
            pcap.Append(read->frame.captured, read->frame.bytes);
            ++report.frames;
        }
    }
    std::error_code error = pcap.Flush() ? output.Close() : pcap.Error();
    if (ReaderWentAway(error)) {
        report.readerWentAway = true;
        return report;
    }
    if (error) {
        const std::string discarded = output.Discard();
        std::cerr << "mirrowen: cannot write " << outputPath << ": " << error.message() << discarded
                  << '\n';
        return report;
    }
    report.missing = ReportMissingNumbers(numbers);
    report.written = true;
    return report;
}

int ReportExport(const std::string& folder, const std::string& outputPath,
                 const ExportReport& report) {
    // As tcpdump ends when its reader goes: nothing to say.
    if (report.readerWentAway) return kExitSuccess;
    if (!report.written) return kExitFailure;
    // Standard output carries the pcap file itself.
    if (outputPath != kStandardOutput) {
        std::cout << "Exported " << Plural(report.frames, "frame") << " from " << folder << " to "
                  << outputPath;
        if (report.missing > 0) {
            std::cout << "; " << Plural(report.missing, "number") << " missing (above)";
        }
        if (report.filteredOut > 0) {
            std::cout << "; left out " << Plural(report.filteredOut, "frame")
                      << " that the filter did not match";
        }
        if (report.skipped > 0) {
            std::cout << "; skipped " << Plural(report.skipped, "packet file") << " (above)";
        }
        std::cout << ". View it with: tshark -r " << outputPath << '\n';
    }
    return report.missing > 0 || report.skipped > 0 ? kExitFramesSkipped : kExitSuccess;
}

}  // namespace mirrowen::tool
