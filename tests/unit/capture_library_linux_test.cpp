// How the library opens the capture on Linux, where libpcap opens in steps: the capture buffer
// asked for at activation, and the capture library's default where that fails, and the failure
// text worded as pcap_open_live words it.
#include <pcap/pcap.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "common/application_name.h"
#include "mirrowen.h"
#include "scripted_capture.h"

namespace mirrowen::testing {
namespace {

using LinuxCapture = ScriptedCapture;

constexpr int kMiB = 1 << 20;

// Sets an environment variable for as long as it lives.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* previous = std::getenv(name)) previous_ = previous;
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (previous_) {
            setenv(name_, previous_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

// A ring that cannot be had fails the activation with a generic error (libpcap shrinks one the
// kernel has no memory for itself): the library asks once more, for the capture library's
// default, and a handle that failed is released before the next is made.
TEST_F(LinuxCapture, ARefusedBufferLeavesTheCaptureLibrarysDefault) {
    const ScopedEnvironment setting(MIRROWEN_CAPTURE_BUFFER_VARIABLE, "200");
    StandInRefuseBuffersAbove(30 * kMiB);
    QueueFrame(PatternBytes(100));
    EXPECT_EQ(Capture(), ResultFinished);
    EXPECT_EQ(fileCount_, 1);
    ASSERT_EQ(StandInBufferRequestCount(), 2);
    EXPECT_EQ(StandInBufferRequest(0), 200 * kMiB);
    EXPECT_EQ(StandInBufferRequest(1), 0);
    EXPECT_EQ(StandInOpenCount(), 1);
    EXPECT_EQ(StandInHandlesOpen(), 0);
}

// The operator's largest setting, 2047 MiB, is cut to a sixteenth of the machine's whole memory
// where that is less, whatever is free at the call.
TEST_F(LinuxCapture, TheBufferAskedForIsBoundedByTheMachinesWholeMemory) {
    const ScopedEnvironment setting(MIRROWEN_CAPTURE_BUFFER_VARIABLE, "2047");
    EXPECT_EQ(Capture(), ResultFinished);
    ASSERT_EQ(StandInBufferRequestCount(), 1);
    EXPECT_EQ(StandInBufferRequest(0), static_cast<int>(std::min<std::uint64_t>(
                                           2047ull * kMiB, InstalledMemoryBytes() / 16)));
}

// A failure whatever the size reads as pcap_open_live's would: the last attempt's, with the
// capture library's default buffer. A status other than a generic error is not about the buffer
// and is not tried again.
TEST_F(LinuxCapture, AnOpenThatFailsWhateverTheSizeReadsAsPcapOpenLivesWould) {
    const ScopedEnvironment setting(MIRROWEN_CAPTURE_BUFFER_VARIABLE, "256");
    const struct {
        int status;
        int attempts;
        const char* message;
    } cases[] = {
        {PCAP_ERROR, 2, "eth9: the reason"},  // 256 MiB, then unset
        {PCAP_ERROR_NO_SUCH_DEVICE, 1, "eth9: stand-in status -5 (the reason)"},
        {PCAP_ERROR_PERM_DENIED, 1, "eth9: stand-in status -8 (the reason)"},
        {PCAP_ERROR_PROMISC_PERM_DENIED, 1, "eth9: stand-in status -11 (the reason)"},
        {PCAP_ERROR_IFACE_NOT_UP, 1, "eth9: stand-in status -9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        StandInReset();
        StandInFailOpenWithStatus(c.status, "the reason");
        std::int32_t result = 0;
        const std::string message = StandardErrorOf([&] { result = Capture(AdapterName("eth9")); });
        EXPECT_EQ(result, ResultAdapterFailed);
        EXPECT_EQ(message, std::string(ApplicationName()) + ": " + c.message + "\n");
        EXPECT_EQ(StandInBufferRequestCount(), c.attempts);
        EXPECT_EQ(StandInHandlesOpen(), 0);
    }
}

}  // namespace
}  // namespace mirrowen::testing
