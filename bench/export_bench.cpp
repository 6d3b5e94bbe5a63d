// The export of a large folder of small packet files, as a user runs it: `mirrowen export FOLDER
// OUT.pcap` as a process of its own, from a cold page cache (dropped before each cold run, which
// needs root) and from a warm one. Reports the time, files per second and the export's peak
// resident memory of each run.
//   mirrowen_export_bench [--files=N] [--runs=R] [--tool=PATH]
// The folder is made under the disk parent (MIRROWEN_BENCH_DISK, else /var/tmp) and removed at the
// end, as is the pcap file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "scratch_folders.h"
#include "test_core.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Options {
    long files = 200000;
    int runs = 3;
    std::string tool = MIRROWEN_TOOL_PATH;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (argument.starts_with("--files=")) {
            options.files = std::stol(std::string(argument.substr(8)));
        } else if (argument.starts_with("--runs=")) {
            options.runs = std::stoi(std::string(argument.substr(7)));
        } else if (argument.starts_with("--tool=")) {
            options.tool = argument.substr(7);
        } else {
            std::fprintf(stderr, "usage: %s [--files=N] [--runs=R] [--tool=PATH]\n", argv[0]);
            std::exit(2);
        }
    }
    return options;
}

// Frames of 61 to 1514 bytes, as a capture stores them, each with its own capture time.
void WriteFolder(const fs::path& folder, long files) {
    const mirrowen::testing::Bytes pattern = mirrowen::testing::PatternBytes(1514);
    for (long number = 1; number <= files; ++number) {
        const std::size_t size = 61 + static_cast<std::size_t>(number * 7919 % 1454);
        const fs::path path = folder / (std::to_string(number) + ".hda");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(pattern.data()),
                   static_cast<std::streamsize>(size));
        const timespec times[2] = {{1700000000 + number / 1000, number % 1000 * 1000000},
                                   {1700000000 + number / 1000, number % 1000 * 1000000}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    sync();
}

bool DropCaches() {
    sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    return static_cast<bool>(drop);
}

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

Run Export(const Options& options, const fs::path& folder, const fs::path& pcap) {
    Run run;
    std::fflush(stdout);  // else the child's stdout would write this process's buffer again
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(options.tool.c_str(), options.tool.c_str(), "export", folder.c_str(), pcap.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.peakKiB = usage.ru_maxrss;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const mirrowen::testing::TemporaryFolder scratch(mirrowen::bench::DiskParent());
    const fs::path folder = scratch.path() / "captures";
    const fs::path pcap = scratch.path() / "export.pcap";
    fs::create_directory(folder);
    std::printf("writing %ld packet files into %s (%s)\n", options.files, folder.c_str(),
                mirrowen::bench::FileSystemType(folder).c_str());
    std::fflush(stdout);
    WriteFolder(folder, options.files);
    const bool cold = geteuid() == 0;
    if (!cold) std::printf("not root: the page cache cannot be dropped, warm runs only\n");
    for (const bool warm : {false, true}) {
        if (!warm && !cold) continue;
        std::vector<double> rates;
        for (int index = 0; index < options.runs; ++index) {
            if (!warm && !DropCaches()) std::printf("could not drop the page cache\n");
            const Run run = Export(options, folder, pcap);
            if (run.status != 0) {
                std::printf("the export ended with status %d\n", run.status);
                return 1;
            }
            rates.push_back(static_cast<double>(options.files) / run.seconds);
            std::printf("%s run %d: %.2f s, %.0f files/s, peak RSS %ld KiB\n",
                        warm ? "warm" : "cold", index + 1, run.seconds, rates.back(), run.peakKiB);
            std::fflush(stdout);
        }
        std::sort(rates.begin(), rates.end());
        std::printf("%s median: %.0f files/s over %d runs\n", warm ? "warm" : "cold",
                    rates[rates.size() / 2], options.runs);
    }
    return 0;
}
