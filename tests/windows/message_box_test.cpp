// The message of a failed adapter open, as a real message box: its caption and text, that the
// call waits for it, and the window that owns it.
#include <gtest/gtest.h>

#include "pcap_stand_in.h"
#include "wine_test_support.h"

namespace mirrowen::testing {
namespace {

class MessageBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StandInReset();
        StandInFailOpen("The adapter was not found");
    }

    std::int32_t FailingCall(BoxWatcher& watcher) {
        std::vector<char> folder = PathBuffer(scratch.path().string());
        const std::int32_t result = TheMirrowen()(AdapterName("eth9").c_str(), nullptr,
                                                  folder.data(), &stopFlag, &fileCount);
        watcher.CallReturned();
        return result;
    }

    TemporaryFolder scratch;
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
};

TEST_F(MessageBoxTest, AFailedOpenShowsTheCaptureLibrarysTextAndGives3OnceDismissed) {
    BoxWatcher watcher;
    EXPECT_EQ(FailingCall(watcher), ResultAdapterFailed);
    const SeenBox seen = watcher.Seen();

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, "Mirrowen");
    EXPECT_EQ(seen.text, "The adapter was not found");
    EXPECT_TRUE(seen.okButtonOnly);
    EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_EXCLAMATION));
    EXPECT_NE(seen.icon, nullptr);
    EXPECT_FALSE(seen.callHadReturned);
    EXPECT_EQ(seen.owner, nullptr);  // this thread has no active window
    EXPECT_EQ(stopFlag, 0);
    EXPECT_EQ(fileCount, 0);
    EXPECT_EQ(StandInOpenCount(), 0);
    EXPECT_EQ(StandInCloseCount(), 0);
}

TEST_F(MessageBoxTest, ATextLeftByASuccessfulOpenIsNeverShown) {
    StandInReset();
    StandInWarnOnOpen("promiscuous mode not supported");
    BoxWatcher watcher;
    EXPECT_EQ(FailingCall(watcher), ResultFinished);
    EXPECT_FALSE(watcher.Seen().found);
}

class OwnedMessageBox : public MessageBoxTest {
  protected:
    void SetUp() override {
        MessageBoxTest::SetUp();
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "MirrowenTestWindow";
        RegisterClassA(&windowClass);
        topLevel = CreateWindowA("MirrowenTestWindow", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                 0, 300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
        popUp = CreateWindowA("MirrowenTestWindow", "tool", WS_POPUP | WS_VISIBLE, 10, 10, 100, 100,
                              topLevel, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(topLevel, nullptr);
        ASSERT_NE(popUp, nullptr);
    }
    void TearDown() override {
        DestroyWindow(popUp);
        DestroyWindow(topLevel);
    }

    HWND topLevel = nullptr;
    HWND popUp = nullptr;
};

// The pop-up was the last active window of the host's top-level window: it owns the box, and the
// top-level window takes no input until the box is dismissed.
TEST_F(OwnedMessageBox, ThePopUpOwnsTheBoxAndTheTopLevelWindowIsDisabledMeanwhile) {
    SetActiveWindow(popUp);
    ASSERT_EQ(GetActiveWindow(), popUp);
    ASSERT_EQ(GetLastActivePopup(topLevel), popUp);

    BoxWatcher watcher(topLevel);
    EXPECT_EQ(FailingCall(watcher), ResultAdapterFailed);
    const SeenBox seen = watcher.Seen();

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, "Mirrowen");
    EXPECT_EQ(seen.owner, popUp);
    EXPECT_FALSE(seen.watchedWindowEnabled);
    EXPECT_TRUE(IsWindowEnabled(topLevel));
    EXPECT_TRUE(IsWindowEnabled(popUp));
}

// A top-level window the host has disabled itself stays disabled after the box.
TEST_F(OwnedMessageBox, ATopLevelWindowDisabledBeforeStaysDisabled) {
    SetActiveWindow(popUp);
    EnableWindow(topLevel, FALSE);

    BoxWatcher watcher(topLevel);
    EXPECT_EQ(FailingCall(watcher), ResultAdapterFailed);
    ASSERT_TRUE(watcher.Seen().found);
    EXPECT_FALSE(IsWindowEnabled(topLevel));
}

}  // namespace
}  // namespace mirrowen::testing
