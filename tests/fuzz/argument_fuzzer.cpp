// libFuzzer target: the adapter name, the folder path and the capture library's answers come from
// the fuzzer; the library runs over the scripted capture library. It must never crash (the target
// is built with AddressSanitizer and UndefinedBehaviorSanitizer), answer only codes 1 to 6, leave
// the host's integers alone when it refuses, count exactly the files it wrote, and create nothing
// but the folder it was given and packet files inside it.
//
// Every input runs inside a sandbox folder made under the working directory at start-up; folder
// paths that are absolute or that climb out of the sandbox are not tried, so that a correct
// library cannot write outside it either. Run it from an empty scratch directory.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mirrowen.h"
#include "pcap_stand_in.h"

namespace {

namespace fs = std::filesystem;

fs::path sandbox;        // absolute
fs::path workingFolder;  // sandbox/a/b, the working directory, where relative paths start
int quietError = -1;     // /dev/null, standard error while the library runs
int standardError = -1;  // the real one, for libFuzzer's and the sanitizers' reports

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "mirrowen fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

// Every entry under the sandbox, with the size of each file, to see what a call changed.
std::map<fs::path, std::uintmax_t> Snapshot() {
    std::map<fs::path, std::uintmax_t> entries;
    for (const auto& entry : fs::recursive_directory_iterator(sandbox)) {
        std::error_code noSize;
        const std::uintmax_t size = entry.is_regular_file() ? entry.file_size(noSize) : 0;
        entries.emplace(entry.path(), size);
    }
    return entries;
}

// Where a relative folder path lands, or nothing if it leaves the sandbox.
bool LandsInSandbox(const std::string& folder, fs::path& target) {
    if (folder.empty() || folder.front() == '/') return false;
    target = (workingFolder / folder).lexically_normal();
    if (target.filename().empty()) target = target.parent_path();
    const auto [sandboxEnd, targetPos] =
        std::mismatch(sandbox.begin(), sandbox.end(), target.begin(), target.end());
    return sandboxEnd == sandbox.end();
}

bool IsPacketFileName(const fs::path& name) {
    constexpr std::string_view kExtension = MIRROWEN_PACKET_FILE_EXTENSION;
    const std::string text = name.string();
    if (!text.ends_with(kExtension) || text.size() == kExtension.size()) return false;
    return text.find_first_not_of("0123456789") == text.size() - kExtension.size();
}

// Removes what the last input made; the folders down to the working directory stay.
void ResetSandbox() {
    for (fs::path keep = workingFolder;; keep = keep.parent_path()) {
        for (const auto& entry : fs::directory_iterator(keep.parent_path())) {
            if (entry.path() != keep) fs::remove_all(entry.path());
        }
        if (keep.parent_path() == sandbox) break;
    }
    for (const auto& entry : fs::directory_iterator(workingFolder)) fs::remove_all(entry.path());
}

// The first bytes script the capture library; the rest is the adapter name, a NUL, and the
// folder path.
struct Script {
    int open;        // 0 opens, 1 fails, 2 opens a link that is not Ethernet
    int frames;      // 0 to 7
    int end;         // what the read after the frames answers: -2 or -1
    int stopAtRead;  // 0: never; otherwise the read during which the host stores its stop
    std::uint8_t sizeBase;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sandbox = fs::current_path() / "sandbox";
    workingFolder = sandbox / "a" / "b";
    fs::create_directories(workingFolder);
    fs::current_path(workingFolder);
    quietError = open("/dev/null", O_WRONLY | O_CLOEXEC);
    standardError = dup(STDERR_FILENO);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const Script script{.open = data[0] % 3,
                        .frames = (data[0] >> 2) % 8,
                        .end = (data[0] & 0x20) != 0 ? -1 : -2,
                        .stopAtRead = data[1] % 10,
                        .sizeBase = data[2]};
    const char* text = reinterpret_cast<const char*>(data + 3);
    const std::size_t textSize = size - 3;
    const char* separator = static_cast<const char*>(std::memchr(text, '\0', textSize));
    const std::string adapter(text, separator != nullptr ? separator : text + textSize);
    const std::string folder =
        separator != nullptr ? std::string(separator + 1, text + textSize) : std::string();
    std::vector<char> folderBuffer(folder.begin(), folder.end());
    folderBuffer.push_back('\0');
    const std::string folderAsGiven(folderBuffer.data());

    fs::path target;
    if (!LandsInSandbox(folderAsGiven, target)) return 0;

    StandInReset();
    if (script.open == 1) StandInFailOpen("no such device");
    if (script.open == 2) StandInSetLinkType(113);
    int expectedFiles = 0;
    for (int frame = 0; frame < script.frames; ++frame) {
        const std::uint32_t length = 50 + (script.sizeBase + frame * 7) % 40;  // about the 60
        const std::vector<unsigned char> bytes(length, static_cast<unsigned char>(frame));
        StandInQueueFrame(bytes.data(), length);
        if (length > 60 && (script.stopAtRead == 0 || frame < script.stopAtRead)) ++expectedFiles;
    }
    StandInQueueResult(script.end);
    std::int32_t stopFlag = 5;
    std::int32_t fileCount = 7;
    struct StopAt {
        int read;
        std::int32_t* flag;
    } stopAt{script.stopAtRead, &stopFlag};
    StandInOnRead(
        [](int readNumber, void* context) {
            const auto* stop = static_cast<StopAt*>(context);
            if (readNumber == stop->read) std::atomic_ref<std::int32_t>(*stop->flag).store(1);
        },
        &stopAt);

    const auto before = Snapshot();
    // The library's one message line per failed open would drown the fuzzer's own output.
    dup2(quietError, STDERR_FILENO);
    const std::int32_t result =
        Mirrowen(adapter.c_str(), nullptr, folderBuffer.data(), &stopFlag, &fileCount);
    dup2(standardError, STDERR_FILENO);
    const auto after = Snapshot();
    StandInReset();

    if (result < ResultFinished || result > ResultCaptureError) {
        Fail("result out of range", std::to_string(result));
    }
    if (result == ResultRefused && (stopFlag != 5 || fileCount != 7)) {
        Fail("refused call changed the host's integers", folderAsGiven);
    }
    if (result != ResultRefused && fileCount < 0) Fail("negative count", folderAsGiven);
    // The buffer may only have lost one trailing separator.
    const std::string folderAfter(folderBuffer.data());
    if (folderAfter != folderAsGiven &&
        !(folderAsGiven.ends_with('/') &&
          folderAfter == folderAsGiven.substr(0, folderAsGiven.size() - 1))) {
        Fail("folder buffer changed beyond the trim", folderAsGiven);
    }
    // Nothing removed, nothing changed or added but the target folder and packet files in it.
    for (const auto& [path, size] : before) {
        const auto kept = after.find(path);
        if (kept == after.end()) Fail("removed", path.string());
        if (kept->second != size && path.parent_path() != target) Fail("changed", path.string());
    }
    int packetFiles = 0;
    for (const auto& [path, size] : after) {
        if (before.contains(path)) continue;
        if (path == target) continue;
        if (path.parent_path() != target || !IsPacketFileName(path.filename())) {
            Fail("created outside the folder given", path.string());
        }
        ++packetFiles;
    }
    if (result == ResultFinished && script.open == 0 && fileCount != expectedFiles) {
        Fail("count differs from the frames stored", folderAsGiven);
    }
    if (result != ResultRefused && packetFiles > fileCount) {
        Fail("more new packet files than counted", folderAsGiven);
    }
    ResetSandbox();
    return 0;
}
