#include <filesystem>
#include <string>

#include "common/application_name.h"
#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

namespace fs = std::filesystem;

using EntryPoint = ScriptedCapture;

TEST_F(EntryPoint, RefusesEachInvalidArgumentWithoutTouchingAnything) {
    const std::string folderText = (folder_ / "").string();  // ends in a separator: a trim shows
    const std::string eth0 = AdapterName("eth0");
    struct Case {
        const char* what;
        const char* adapter;
        bool folderGiven;
        const char* folderOverride;
        bool flagGiven;
        bool countGiven;
    };
    const Case cases[] = {
        {"null adapter", nullptr, true, nullptr, true, true},
        {"empty adapter", "", true, nullptr, true, true},
        {"one-byte adapter", "r", true, nullptr, true, true},
        {"null folder", eth0.c_str(), false, nullptr, true, true},
        {"empty folder", eth0.c_str(), true, "", true, true},
        {"one-byte folder", eth0.c_str(), true, kSeparatorText.c_str(), true, true},
        {"one-byte folder that exists", eth0.c_str(), true, ".", true, true},
        {"null stop flag", eth0.c_str(), true, nullptr, false, true},
        {"null file count", eth0.c_str(), true, nullptr, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string folder = c.folderOverride != nullptr ? c.folderOverride : folderText;
        const std::string folderBefore = folder;
        std::int32_t stopFlag = 7;
        std::int32_t fileCount = 8;
        const std::int32_t result =
            Mirrowen(c.adapter, nullptr, c.folderGiven ? folder.data() : nullptr,
                     c.flagGiven ? &stopFlag : nullptr, c.countGiven ? &fileCount : nullptr);
        EXPECT_EQ(result, ResultRefused);
        EXPECT_EQ(folder, folderBefore);
        EXPECT_EQ(stopFlag, 7);
        EXPECT_EQ(fileCount, 8);
        EXPECT_FALSE(fs::exists(folder_)) << "the folder was created";
        EXPECT_EQ(StandInOpenCount(), 0);
    }
}

TEST_F(EntryPoint, TwoByteNamesAreEnoughAndReservedIsIgnored) {
    std::string folder = (scratch_.path() / "x").string();
    std::int32_t stopFlag = 1;
    std::int32_t fileCount = -1;
    int anything = 0;
    EXPECT_EQ(Mirrowen("ab", &anything, folder.data(), &stopFlag, &fileCount), ResultFinished);
    EXPECT_STREQ(StandInOpenedDevice(), "");
    EXPECT_EQ(anything, 0);

    const fs::path workingFolder = fs::current_path();
    fs::current_path(scratch_.path());
    std::string shortFolder = "ab";
    EXPECT_EQ(Mirrowen("ab", nullptr, shortFolder.data(), &stopFlag, &fileCount), ResultFinished);
    fs::current_path(workingFolder);
    EXPECT_TRUE(fs::is_directory(scratch_.path() / "ab"));
}

TEST_F(EntryPoint, AStopStoredBeforeTheCallIsOverwrittenByTheReset) {
    QueueFrame(PatternBytes(100));
    StandInQueueTimeout();
    QueueFrame(PatternBytes(100, 1));
    // The flag starts at 1, yet every scripted read happens; the script's end finishes the call.
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(StandInReadCount(), 4);
    EXPECT_EQ(stopFlag_, 0);
    EXPECT_EQ(fileCount_, 2);
}

// Captioned with the application name, the text ends with the capture library's reason (worded
// before it as the platform's pcap_open_live words it).
TEST_F(EntryPoint, AFailedOpenShowsTheCaptureLibraryTextAndReturnsAdapterFailed) {
    const std::string reason = "socket: Address family not supported by protocol";
    StandInFailOpen(reason.c_str());
    std::int32_t result = 0;
    const std::string message = WarningShownBy([&] { result = Capture(AdapterName("eth9")); });
    EXPECT_EQ(result, ResultAdapterFailed);
    EXPECT_TRUE(message.starts_with(std::string(ApplicationName()) + ": ")) << message;
    EXPECT_TRUE(message.ends_with(reason + "\n")) << message;
    EXPECT_EQ(stopFlag_, 0);
    EXPECT_EQ(fileCount_, 0);
    EXPECT_EQ(StandInOpenCount(), 0);
    EXPECT_EQ(StandInHandlesOpen(), 0);
}

TEST_F(EntryPoint, AWarningLeftByASuccessfulOpenIsNeverShown) {
    StandInWarnOnOpen("eth0: you don't have permission to capture in promiscuous mode");
    std::int32_t result = 0;
    const std::string message = WarningShownBy([&] { result = Capture(); });
    EXPECT_EQ(result, ResultFinished);
    EXPECT_EQ(message, "");
}

TEST_F(EntryPoint, ALinkOtherThanEthernetClosesTheHandleSilently) {
    for (const int linkType : {113, 0}) {  // Linux cooked capture, BSD loopback
        SCOPED_TRACE(linkType);
        StandInReset();
        StandInSetLinkType(linkType);
        QueueFrame(PatternBytes(100));
        stopFlag_ = 1;
        fileCount_ = -1;
        std::int32_t result = 0;
        const std::string message = WarningShownBy([&] { result = Capture(); });
        EXPECT_EQ(result, ResultNotEthernet);
        EXPECT_EQ(message, "");
        EXPECT_EQ(stopFlag_, 0);
        EXPECT_EQ(fileCount_, 0);
        EXPECT_EQ(StandInReadCount(), 0);
        EXPECT_EQ(StandInOpenCount(), 1);
        EXPECT_EQ(StandInCloseCount(), 1);
    }
}

TEST(ApplicationName, IsTheFileNameCutAtItsLastDot) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"/opt/x/Mirrowen.so", "Mirrowen"},
        {"/opt/x/Other.Name.so", "Other.Name"},
        {"C:\\Program Files\\Tool\\Mirrowen.dll", "Mirrowen"},
        {"C:Mirrowen.dll", "Mirrowen"},
        {"./Mirrowen.so", "Mirrowen"},
        {"Mirrowen.so", "Mirrowen"},
        {"/opt/x/Mirrowen", "Mirrowen"},
        {"/opt/mirrowen-1.0/Mirrowen", "Mirrowen"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char name[64];
        DeriveApplicationName(c.path, name, sizeof name);
        EXPECT_STREQ(name, c.name) << c.path;
    }
    char small[4];
    DeriveApplicationName("/opt/Mirrowen.so", small, sizeof small);
    EXPECT_STREQ(small, "Mir");
}

TEST(ApplicationName, IsTakenFromTheFileTheCodeWasLoadedFrom) {
    // Linked into this test program, the library's code names itself after the program.
    EXPECT_STREQ(ApplicationName(), "mirrowen_unit_tests");
}

}  // namespace
}  // namespace mirrowen::testing
