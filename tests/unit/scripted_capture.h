#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_run.h"
#include "mirrowen.h"
#include "pcap_stand_in.h"

namespace mirrowen::testing {

// A call of Mirrowen against the scripted capture library, in a fresh folder of the test's own.
class ScriptedCapture : public ::testing::Test {
  protected:
    void SetUp() override { StandInReset(); }
    void TearDown() override { StandInReset(); }

    // Calls Mirrowen on the calling thread; the stop flag starts at 1 and the count at -1, so
    // that the reset shows.
    std::int32_t Capture(const std::string& adapter = "rpcap://eth0");
    std::int32_t CaptureInto(std::string& folder, const std::string& adapter = "rpcap://eth0");

    static void QueueFrame(const std::vector<unsigned char>& frame);
    // A frame of `size` bytes whose bytes depend on `seed`.
    static std::vector<unsigned char> Frame(std::size_t size, unsigned seed = 0);
    std::filesystem::path PacketFile(int number) const;

    TemporaryFolder scratch_;
    std::filesystem::path folder_ = scratch_.path() / "caps";
    std::int32_t stopFlag_ = 1;
    std::int32_t fileCount_ = -1;
};

}  // namespace mirrowen::testing
