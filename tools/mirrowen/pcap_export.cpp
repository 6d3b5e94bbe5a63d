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

namespace mirrowen::tool {

namespace {

struct PacketFile {
    std::vector<unsigned char> bytes;
    timespec modified{};
};

enum class Lookup { Missing, Unusable, Usable };

Lookup ReadPacketFile(const std::string& path, PacketFile& packet) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return Lookup::Missing;
        std::cerr << "mirrowen: skipped " << path << ": " << std::strerror(errno) << '\n';
        return Lookup::Unusable;
    }
    if (!S_ISREG(status.st_mode)) {
        std::cerr << "mirrowen: skipped " << path << ": not a regular file\n";
        return Lookup::Unusable;
    }
    if (status.st_size == 0 || status.st_size > kSnapshotLength) {
        std::cerr << "mirrowen: skipped " << path << ": " << status.st_size
                  << " bytes cannot be a frame (1 to " << kSnapshotLength << " bytes)\n";
        return Lookup::Unusable;
    }
    packet.bytes.resize(static_cast<std::size_t>(status.st_size));
    packet.modified = status.st_mtim;
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(packet.bytes.data()), status.st_size);
    if (!file || file.peek() != std::char_traits<char>::eof()) {
        std::cerr << "mirrowen: skipped " << path << ": it could not be read whole\n";
        return Lookup::Unusable;
    }
    return Lookup::Usable;
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
    for (std::int64_t number = 1;; ++number) {
        const std::string path = folder + "/" + PacketFileName(number);
        const Lookup lookup = ReadPacketFile(path, packet);
        if (lookup == Lookup::Missing) break;
        if (lookup == Lookup::Unusable) {
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
    if (report.filteredOut > 0) {
        std::cout << "; left out " << report.filteredOut << " frames that the filter did not match";
    }
    if (report.skipped > 0) std::cout << "; skipped " << report.skipped << " packet files (above)";
    std::cout << ". View them with: tshark -r " << outputPath << '\n';
    return report.skipped > 0 ? kExitFramesSkipped : kExitSuccess;
}

}  // namespace mirrowen::tool
