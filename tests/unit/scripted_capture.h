#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "mirrowen.h"
#include "pcap_stand_in.h"
#include "platform/platform.h"
#include "test_core.h"

namespace mirrowen::testing {

// The platform's folder separator, as a string to append.
inline const std::string kSeparatorText(1, platform::kSeparator);

// A call of Mirrowen against the scripted capture library, in a fresh folder of the test's own;
// every descriptor the call takes must be given back.
class ScriptedCapture : public KeepsDescriptors {
  protected:
    void SetUp() override {
        StandInReset();
        KeepsDescriptors::SetUp();
    }
    void TearDown() override {
        KeepsDescriptors::TearDown();
        StandInReset();
    }

    // Calls Mirrowen on the calling thread; the stop flag starts at 1 and the count at -1, so
    // that the reset shows. The system's error code at the return is kept in systemError_.
    std::int32_t Capture(const std::string& adapter = AdapterName("eth0"));
    std::int32_t CaptureInto(std::string& folder, const std::string& adapter = AdapterName("eth0"));

    static void QueueFrame(const Bytes& frame);
    std::filesystem::path PacketFile(int number) const;

    TemporaryFolder scratch_;
    std::filesystem::path folder_ = scratch_.path() / "caps";
    std::int32_t stopFlag_ = 1;
    std::int32_t fileCount_ = -1;
    std::uint32_t systemError_ = 0;
};

}  // namespace mirrowen::testing
