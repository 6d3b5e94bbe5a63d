// Mirrowen.dll in a process that finds no capture library: it loads all the same, and a call
// ends with 3 after saying why in its message box.
#include <gtest/gtest.h>

#include "wine_test_support.h"

namespace mirrowen::testing {
namespace {

TEST(WithoutCaptureLibrary, TheCallGives3AndTheBoxSaysTheLibraryCouldNotBeLoaded) {
    ASSERT_EQ(LoadLibraryA("wpcap.dll"), nullptr) << "a wpcap.dll is on the search path";
    TemporaryFolder scratch;
    std::vector<char> folder = PathBuffer(scratch.path().string());
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;

    for (int call = 1; call <= 2; ++call) {  // bound once: the second call fails the same way
        SCOPED_TRACE(call);
        BoxWatcher watcher;
        EXPECT_EQ(TheMirrowen()(AdapterName("eth0").c_str(), nullptr, folder.data(), &stopFlag,
                                &fileCount),
                  ResultAdapterFailed);
        watcher.CallReturned();
        const SeenBox seen = watcher.Seen();

        char reason[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       ERROR_MOD_NOT_FOUND, 0, reason, sizeof reason, nullptr);
        std::string expectedReason = reason;
        expectedReason.erase(expectedReason.find_last_not_of("\r\n") + 1);
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.caption, "Mirrowen");
        EXPECT_FALSE(seen.callHadReturned);
        EXPECT_EQ(seen.text,
                  "The capture library wpcap.dll could not be loaded: " + expectedReason);
        EXPECT_EQ(seen.text.find('\n'), std::string::npos);
        EXPECT_EQ(stopFlag, 0);
        EXPECT_EQ(fileCount, 0);
    }
}

}  // namespace

namespace {

// Npcap installs wpcap.dll, and the Packet.dll it imports, in an Npcap folder of the system
// directory, which is not on the default search path; the library looks there after the default
// search. The copies put there are taken away again at the end, so that the other tests of the run
// still find no capture library.
class NpcapInstalled : public ::testing::Test {
  protected:
    void SetUp() override {
        char system[MAX_PATH];
        ASSERT_NE(GetSystemDirectoryA(system, MAX_PATH), 0u);
        folder = std::string(system) + "\\Npcap";
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        for (const char* file : {"wpcap.dll", "Packet.dll"}) {
            const std::string installed = folder + "\\" + file;
            ASSERT_TRUE(CopyFileA(BesideThisProgram(std::string("..\\npcap\\") + file).c_str(),
                                  installed.c_str(), TRUE));
            installedFiles.push_back(installed);
        }
    }
    void TearDown() override {
        // The library keeps the capture library it bound for the rest of the process; this
        // process makes no call after the test, so the copies can be unloaded and deleted.
        for (const std::string& file : installedFiles) {
            if (const HMODULE loaded = GetModuleHandleA(file.c_str())) FreeLibrary(loaded);
        }
        for (const std::string& file : installedFiles) DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
    }

    std::string folder;
    std::vector<std::string> installedFiles;
};

TEST_F(NpcapInstalled, TheCaptureLibraryInTheNpcapFolderIsBound) {
    TemporaryFolder scratch;
    std::vector<char> path = PathBuffer(scratch.path().string());
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
    BoxWatcher watcher;
    // The stand-in's default script: an Ethernet adapter that has no packets.
    EXPECT_EQ(
        TheMirrowen()(AdapterName("eth0").c_str(), nullptr, path.data(), &stopFlag, &fileCount),
        ResultFinished);
    watcher.CallReturned();
    EXPECT_FALSE(watcher.Seen().found);
    EXPECT_NE(GetModuleHandleA(installedFiles.front().c_str()), nullptr);
}

}  // namespace
}  // namespace mirrowen::testing
