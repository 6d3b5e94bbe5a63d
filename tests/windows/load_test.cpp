// What Mirrowen.dll does as it is loaded: the process's error mode, and its application name from
// the file it was loaded from. Each test runs in a process of its own.
#include <gtest/gtest.h>

#include "pcap_stand_in.h"
#include "wine_test_support.h"

namespace mirrowen::testing {
namespace {

TEST(Load, AddsBothErrorModeFlagsKeepsTheHostsAndLeavesThemAtUnload) {
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    ASSERT_EQ(GetErrorMode(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));

    const HMODULE module = LoadLibraryA(BesideThisProgram("Mirrowen.dll").c_str());
    ASSERT_NE(module, nullptr);
    const UINT expected = SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    EXPECT_EQ(GetErrorMode(), expected);

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleA("Mirrowen.dll"), nullptr);
    EXPECT_EQ(GetErrorMode(), expected);
}

TEST(Load, ACopyLoadedAsOtherNameDllCaptionsItsMessageOtherName) {
    TemporaryFolder scratch;
    const std::string copy = (scratch.path() / "Other.Name.dll").string();
    ASSERT_TRUE(CopyFileA(BesideThisProgram("Mirrowen.dll").c_str(), copy.c_str(), TRUE));
    const MirrowenFunction other = LoadMirrowen(copy);
    StandInReset();
    StandInFailOpen("no such adapter");

    std::vector<char> folder = PathBuffer(scratch.path().string());
    std::int32_t stopFlag = 7;
    std::int32_t fileCount = 7;
    BoxWatcher watcher;
    EXPECT_EQ(other(AdapterName("eth0").c_str(), nullptr, folder.data(), &stopFlag, &fileCount),
              ResultAdapterFailed);
    watcher.CallReturned();
    const SeenBox seen = watcher.Seen();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, "Other.Name");
    EXPECT_EQ(seen.text, "no such adapter");
    FreeLibrary(GetModuleHandleA(copy.c_str()));
}

}  // namespace
}  // namespace mirrowen::testing
