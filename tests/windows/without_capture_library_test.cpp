// Mirrowen.dll in a process that finds no capture library: it loads all the same, and a call
// ends with 3 after saying why in its message box.
#include <gtest/gtest.h>

#include "wine_test_support.h"

using namespace wine_test;

namespace {

TEST(WithoutCaptureLibrary, TheCallGives3AndTheBoxSaysTheLibraryCouldNotBeLoaded) {
    ASSERT_EQ(LoadLibraryA("wpcap.dll"), nullptr) << "a wpcap.dll is on the search path";
    ScratchFolder scratch;
    std::vector<char> folder = PathBuffer(scratch.path());
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;

    for (int call = 1; call <= 2; ++call) {  // bound once: the second call fails the same way
        SCOPED_TRACE(call);
        BoxWatcher watcher("Mirrowen");
        EXPECT_EQ(TheMirrowen()("rpcap://eth0", nullptr, folder.data(), &stopFlag, &fileCount),
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
