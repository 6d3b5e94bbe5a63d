#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What a call into a folder that another call is capturing into finds as the system's reason.
#if defined(_WIN32)
constexpr std::uint32_t kFolderInUse = ERROR_SHARING_VIOLATION;
#else
constexpr std::uint32_t kFolderInUse = EBUSY;
#endif

// What stands at caps, the folder most rows name, before the call: nothing, a folder holding a
// note, or a file.
enum class Before { Nothing, Folder, File };

// How many files and folders stand under `folder`, at any depth.
std::ptrdiff_t EntriesUnder(const fs::path& folder) {
    return std::distance(fs::recursive_directory_iterator(folder),
                         fs::recursive_directory_iterator());
}

// A row: the path given (under the scratch folder, '/' standing for the platform's separator;
// "<longest>" is the longest path the limit allows, "<too long>" one byte more), what stands at
// caps before the call, the result, the caller's buffer afterwards, and whether a frame is queued,
// to be stored in the trimmed folder.
struct FolderCase {
    const char* name;
    std::string given;
    Before before;
    std::int32_t result;
    std::string trimmed;
    bool stores;
};

// "caps//" becomes "caps/", which still names the folder. Once it exists, POSIX finds it by that
// name; Windows' search for a name ending in a separator finds nothing, and a folder that cannot
// be created again is refused.
const std::int32_t kExistingWithTwoSeparators =
    platform::kSeparator == '/' ? ResultFinished : ResultRefused;

class FolderPath : public ScriptedCapture, public ::testing::WithParamInterface<FolderCase> {
  protected:
    // The row's path as the platform spells it; the longest path's parents are made for it.
    std::string Spelled(const std::string& path) const {
        // The path limit counts the trimmed path with its NUL; the trim comes first.
        const std::string longest =
            FolderOfLength(scratch_.path(), platform::kPathLimit - 1).string();
        std::string spelled = path;
        std::replace(spelled.begin(), spelled.end(), '/', platform::kSeparator);
        for (const auto& [marker, value] :
             {std::pair<std::string, std::string>{"<longest>", longest},
              {"<too long>", longest.substr(0, longest.size() - 1) + "ee"}}) {
            if (spelled.starts_with(marker)) return value + spelled.substr(marker.size());
        }
        return (scratch_.path() / "").string() + spelled;
    }
};

// One trailing separator is cut off in the caller's buffer, whatever the result; the rest names a
// folder that is used as it is, or created if missing (not its parents), or refused with the flag
// and count untouched and nothing created. What stood there is left as it was.
TEST_P(FolderPath, IsTrimmedThenUsedCreatedOrRefused) {
    const FolderCase& c = GetParam();
    const Bytes note = PatternBytes(4);
    const fs::path notePath = c.before == Before::Folder ? folder_ / "notes.txt" : folder_;
    if (c.before == Before::Folder) fs::create_directory(folder_);
    if (c.before != Before::Nothing) WriteWholeFile(notePath, note);
    if (c.stores) QueueFrame(PatternBytes(64));
    std::string folder = Spelled(c.given);
    const std::string trimmed = Spelled(c.trimmed);
    const std::ptrdiff_t entriesBefore = EntriesUnder(scratch_.path());

    EXPECT_EQ(CaptureInto(folder), c.result);
    EXPECT_EQ(std::string(folder.c_str()), trimmed);
    const bool refused = c.result == ResultRefused;
    EXPECT_EQ(stopFlag_, refused ? 1 : 0);
    EXPECT_EQ(fileCount_, refused ? -1 : (c.stores ? 1 : 0));
    EXPECT_EQ(StandInOpenCount(), refused ? 0 : 1);
    EXPECT_TRUE(!refused || EntriesUnder(scratch_.path()) == entriesBefore) << "created";
    EXPECT_TRUE(refused || fs::is_directory(trimmed));
    EXPECT_EQ(ReadWholeFile(testing::PacketFile(trimmed, 1)),
              c.stores ? PatternBytes(64) : Bytes{});
    EXPECT_TRUE(c.before == Before::Nothing || ReadWholeFile(notePath) == note);
}

INSTANTIATE_TEST_SUITE_P(
    OutputFolder, FolderPath,
    ::testing::Values(
        FolderCase{"OneTrailingSeparatorCut", "caps/", Before::Folder, ResultFinished, "caps",
                   true},
        FolderCase{"OfTwoTheLastCutAndTheFolderMade", "caps//", Before::Nothing, ResultFinished,
                   "caps/", true},
        FolderCase{"OfTwoTheLastCutBeforeAnExistingFolder", "caps//", Before::Folder,
                   kExistingWithTwoSeparators, "caps/", false},
        FolderCase{"MissingIsMade", "caps", Before::Nothing, ResultFinished, "caps", true},
        FolderCase{"ExistingKeepsItsContents", "caps", Before::Folder, ResultFinished, "caps",
                   true},
        FolderCase{"MissingParentIsNotMade", "a/b", Before::Nothing, ResultRefused, "a/b", false},
        FolderCase{"MissingParentIsNotMadeAfterTheCut", "missing/caps/", Before::Nothing,
                   ResultRefused, "missing/caps", false},
        FolderCase{"AFileIsRefused", "caps", Before::File, ResultRefused, "caps", false},
        FolderCase{"AFileIsRefusedAfterTheCut", "caps/", Before::File, ResultRefused, "caps",
                   false},
        FolderCase{"TheLongestAfterTheCutIsUsed", "<longest>/", Before::Nothing, ResultFinished,
                   "<longest>", false},
        FolderCase{"OneByteLongerIsRefused", "<too long>", Before::Nothing, ResultRefused,
                   "<too long>", false},
        FolderCase{"OneByteLongerIsRefusedAfterTheCut", "<too long>/", Before::Nothing,
                   ResultRefused, "<too long>", false}),
    [](const auto& row) { return std::string(row.param.name); });

using OutputFolder = ScriptedCapture;

// A call that has stored one frame is held in its next read while a second call is made into its
// folder, from the folder itself as the process's working folder (a host started there).
TEST_F(OutputFolder, AFolderBeingCapturedIntoIsRefusedUntilThatCallEnds) {
    struct HeldRead {
        std::atomic<bool> reached{false};
        std::atomic<bool> released{false};
    } held;
    StandInOnRead(
        [](int readNumber, void* context) {
            auto& held = *static_cast<HeldRead*>(context);
            if (readNumber != 2) return;
            held.reached = true;
            for (int waits = 0; waits < 10000 && !held.released; ++waits) {
                std::this_thread::sleep_for(1ms);
            }
        },
        &held);
    QueueFrame(PatternBytes(64));
    QueueFrame(PatternBytes(64, 1));
    fs::create_directory(folder_);
    const fs::path workingFolder = fs::current_path();
    fs::current_path(folder_);

    std::int32_t firstResult = 0;
    std::int32_t firstStopFlag = 1;
    std::int32_t firstFileCount = -1;
    std::thread first([&] {
        std::string folder = folder_.string();
        firstResult = Mirrowen(AdapterName("eth0").c_str(), nullptr, folder.data(), &firstStopFlag,
                               &firstFileCount);
    });
    for (int waits = 0; waits < 10000 && !held.reached; ++waits) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(held.reached);
    // Only calls are shut out: the folder is listed and its file read meanwhile.
    EXPECT_EQ(PacketFileNumbers(folder_), std::vector<int>{1});
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(64));
    EXPECT_EQ(Capture(), ResultRefused);
    EXPECT_EQ(systemError_, kFolderInUse);
    EXPECT_EQ(stopFlag_, 1);
    EXPECT_EQ(fileCount_, -1);
    EXPECT_EQ(StandInOpenCount(), 1);
    held.released = true;
    first.join();
    EXPECT_EQ(firstResult, ResultFinished);
    EXPECT_EQ(firstFileCount, 2);

    QueueFrame(PatternBytes(64, 2));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 1);
    EXPECT_EQ(ReadWholeFile(PacketFile(1)), PatternBytes(64, 2));
    fs::current_path(workingFolder);
}

}  // namespace
}  // namespace mirrowen::testing
