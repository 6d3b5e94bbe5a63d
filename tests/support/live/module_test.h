#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "capture_run.h"
#include "network_namespace.h"

namespace mirrowen::testing {

// A test of the built module, loaded and bound by name as a host does, with a scratch folder of
// its own, that gives back every descriptor it takes. Capturing needs root and network namespaces;
// without them the test is skipped. The test target defines MIRROWEN_MODULE_PATH.
class ModuleTest : public KeepsDescriptors {
  protected:
    void SetUp() override {
        KeepsDescriptors::SetUp();
        if (const std::string why = WhyLiveCapturesCannotRun(); !why.empty()) GTEST_SKIP() << why;
    }
    void TearDown() override {
        sender_.reset();
        network_.reset();
        KeepsDescriptors::TearDown();
    }

    // A veth pair in a network namespace of the test's own, and a sender on its far end.
    void MakeNetwork(int mtu = 1500) {
        network_.emplace(mtu);
        sender_.emplace(VethNamespace::kSendEnd);
    }
    // What a call that the module ends by itself did: its result, the host's two integers after
    // it (7 and 9 before), and what the user was told.
    struct EndedCall {
        std::int32_t result = 0;
        std::int32_t stopFlag = 7;
        std::int32_t fileCount = 9;
        std::string told;
    };
    EndedCall CallToItsEnd(const std::string& adapter, std::string folder) const {
        EndedCall call;
        call.told = StandardErrorOf([&] {
            call.result = module_.function()(adapter.c_str(), nullptr, folder.data(),
                                             &call.stopFlag, &call.fileCount);
        });
        return call;
    }

    // A call capturing on the veth pair into `folder`.
    CaptureRun StartCapture(const std::filesystem::path& folder) const {
        return CaptureRun(module_.function(), VethNamespace::CaptureAdapter(), folder.string());
    }

    const LoadedModule module_{MIRROWEN_MODULE_PATH};
    const TemporaryFolder scratch_;
    std::optional<VethNamespace> network_;
    std::optional<FrameSender> sender_;
};

}  // namespace mirrowen::testing
