#pragma once

#include <gtest/gtest.h>

#include <string>

#include "capture_run.h"
#include "network_namespace.h"

namespace mirrowen::testing {

// A test of the built module, loaded and bound by name as a host does, with a scratch folder of
// its own. Capturing needs root and network namespaces; without them the test is skipped. The test
// target defines MIRROWEN_MODULE_PATH.
class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = WhyLiveCapturesCannotRun(); !why.empty()) GTEST_SKIP() << why;
    }

    const LoadedModule module_{MIRROWEN_MODULE_PATH};
    const TemporaryFolder scratch_;
};

}  // namespace mirrowen::testing
