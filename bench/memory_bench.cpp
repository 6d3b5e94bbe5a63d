// Peak and current resident memory and open descriptors while the library stores a million small
// frames on a tmpfs of its own. The frames come from the scripted stand-in for the capture
// library, one queued per read, so the capture library's own buffers play no part and the run
// takes seconds. The files of each finished sample interval are removed as the run goes, so that
// the tmpfs holds no more than one interval's worth.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "mirrowen.h"
#include "pcap_stand_in.h"
#include "scratch_folders.h"

namespace {

constexpr int kFrames = 1'000'000;
constexpr int kSampleEvery = 100'000;
constexpr std::uint32_t kFrameSize = 64;

struct Sample {
    int frames = 0;
    long residentKb = 0;
    long peakResidentKb = 0;
    long descriptors = 0;
};

long StatusKb(const std::string& field) {
    return mirrowen::testing::ProcFieldKb("/proc/self/status", field);
}

struct Run {
    std::filesystem::path folder;
    std::vector<unsigned char> frame = std::vector<unsigned char>(kFrameSize, 0x5A);
    std::vector<Sample> samples;
};

void RemoveFiles(const std::filesystem::path& folder, int first, int last) {
    for (int number = first; number <= last; ++number) {
        unlink(mirrowen::testing::PacketFile(folder, number).c_str());
    }
}

// Runs at the start of every read: records a sample every kSampleEvery frames (read n follows
// the storing of frame n - 1), and queues the next frame until a million have been handed out.
void OnRead(int readNumber, void* context) {
    Run& run = *static_cast<Run*>(context);
    const int stored = readNumber - 1;
    if (stored % kSampleEvery == 0) {
        run.samples.push_back({stored, StatusKb("VmRSS"), StatusKb("VmHWM"),
                               static_cast<long>(mirrowen::testing::OpenDescriptorCount())});
        if (stored > 0) RemoveFiles(run.folder, stored - kSampleEvery + 1, stored);
    }
    if (readNumber <= kFrames) StandInQueueFrame(run.frame.data(), kFrameSize);
}

}  // namespace

int main() {
    const mirrowen::bench::ScratchTmpfs tmpfs;
    Run run;
    run.folder = tmpfs.path() / "frames";
    StandInReset();
    StandInOnRead(OnRead, &run);
    std::string folder = run.folder.string();
    std::int32_t stopFlag = 0, fileCount = 0;
    const long descriptorsBefore = static_cast<long>(mirrowen::testing::OpenDescriptorCount());
    const std::int32_t result = Mirrowen(mirrowen::testing::AdapterName("stand-in").c_str(),
                                         nullptr, folder.data(), &stopFlag, &fileCount);
    const long descriptorsAfter = static_cast<long>(mirrowen::testing::OpenDescriptorCount());

    std::printf(
        "result %d, %d frames of %u bytes stored through the scripted capture library; "
        "descriptors %ld before the call, %ld after\n\n",
        result, fileCount, kFrameSize, descriptorsBefore, descriptorsAfter);
    std::printf(
        "| frames stored | RSS kB | peak RSS kB | open descriptors |\n|---:|---:|---:|---:|\n");
    for (const Sample& sample : run.samples) {
        std::printf("| %d | %ld | %ld | %ld |\n", sample.frames, sample.residentKb,
                    sample.peakResidentKb, sample.descriptors);
    }
    // The first frames touch a few pages for the first time (stack, allocator); what matters is
    // that nothing grows with the number of frames, judged over the second half of the run.
    const Sample& first = run.samples.front();
    const Sample& half = run.samples[run.samples.size() / 2];
    const Sample& last = run.samples.back();
    const bool flat = last.peakResidentKb == half.peakResidentKb &&
                      last.descriptors == first.descriptors &&
                      descriptorsAfter == descriptorsBefore;
    std::printf(
        "\nPeak RSS: +%ld kB over the whole run, +%ld kB over its second half; "
        "descriptors: +%ld. %s\n",
        last.peakResidentKb - first.peakResidentKb, last.peakResidentKb - half.peakResidentKb,
        last.descriptors - first.descriptors, flat ? "Flat." : "Not flat.");
    return fileCount == kFrames && result == ResultFinished ? 0 : 1;
}
