#include "pcap_export.h"

#include <pcap/pcap.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "exit_status.h"
#include "library_names.h"
#include "packet_folder.h"

namespace mirrowen::tool {

namespace {

struct PacketFile {
    std::vector<unsigned char> bytes;
    timespec modified{};
};

// False, with the reason on stderr, for a file that cannot be a frame.
bool ReadPacketFile(const std::string& path, PacketFile& packet) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        const int error = errno;  // before the writes below
        std::cerr << "mirrowen: skipped " << path << ": " << std::strerror(error) << '\n';
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        std::cerr << "mirrowen: skipped " << path << ": not a regular file\n";
        return false;
    }
    if (status.st_size == 0 || status.st_size > kSnapshotLength) {
        std::cerr << "mirrowen: skipped " << path << ": " << status.st_size
                  << " bytes cannot be a frame (1 to " << kSnapshotLength << " bytes)\n";
        return false;
    }
    packet.bytes.resize(static_cast<std::size_t>(status.st_size));
    packet.modified = status.st_mtim;
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(packet.bytes.data()), status.st_size);
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

struct DeadCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

}  // namespace

ExportReport ExportToPcap(const std::string& folder, const std::string& outputPath,
                          const FrameFilter* filter) {
    ExportReport report;
    struct stat folderStatus {};
    if (stat(folder.c_str(), &folderStatus) != 0 || !S_ISDIR(folderStatus.st_mode)) {
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
    // Nanosecond timestamps: the capture times the packet files carry, at their full precision.
    const std::unique_ptr<pcap_t, DeadCloser> dead(pcap_open_dead_with_tstamp_precision(
        DLT_EN10MB, kSnapshotLength, PCAP_TSTAMP_PRECISION_NANO));
    if (!dead) {
        std::cerr << "mirrowen: libpcap could not prepare an Ethernet pcap file\n";
        return report;
    }
    pcap_dumper_t* dumper = pcap_dump_open(dead.get(), outputPath.c_str());
    if (dumper == nullptr) {
        std::cerr << "mirrowen: cannot create " << outputPath << ": " << pcap_geterr(dead.get())
                  << '\n';
        return report;
    }

    PacketFile packet;
    for (const std::int32_t number : numbers) {
        if (!ReadPacketFile(folder + "/" + PacketFileName(number), packet)) {
            ++report.skipped;
            continue;
        }
        if (filter != nullptr && !filter->Matches(packet.bytes)) {
            ++report.filteredOut;
            continue;
        }
        pcap_pkthdr header{};
        header.ts.tv_sec = packet.modified.tv_sec;
        header.ts.tv_usec = static_cast<suseconds_t>(packet.modified.tv_nsec);
        header.caplen = static_cast<bpf_u_int32>(packet.bytes.size());
        header.len = header.caplen;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, packet.bytes.data());
        ++report.frames;
    }

    report.missing = ReportMissingNumbers(numbers);

    const bool flushed = pcap_dump_flush(dumper) == 0 && std::ferror(pcap_dump_file(dumper)) == 0;
    pcap_dump_close(dumper);
    if (!flushed) {
        std::cerr << "mirrowen: cannot write " << outputPath << " whole; check free space\n";
        return report;
    }
    report.written = true;
    return report;
}

int ReportExport(const std::string& folder, const std::string& outputPath,
                 const ExportReport& report) {
    if (!report.written) return kExitFailure;
    std::cout << "Exported " << report.frames << " frames from " << folder << " to " << outputPath;
    if (report.missing > 0) std::cout << "; missing numbers: " << report.missing << " (above)";
    if (report.filteredOut > 0) {
        std::cout << "; left out " << report.filteredOut << " frames that the filter did not match";
    }
    if (report.skipped > 0) std::cout << "; skipped " << report.skipped << " packet files (above)";
    std::cout << ". View them with: tshark -r " << outputPath << '\n';
    return report.missing > 0 || report.skipped > 0 ? kExitFramesSkipped : kExitSuccess;
}

}  // namespace mirrowen::tool
