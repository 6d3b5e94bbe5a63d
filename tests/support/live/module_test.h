#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include "capture_run.h"

namespace mirrowen::testing {

// A test of the built module, loaded and bound by name as a host does, with a scratch folder of
// its own, that gives back every descriptor it takes. Capturing needs root; without it the test is
// skipped. The test target defines MIRROWEN_MODULE_PATH.
class ModuleTest : public KeepsDescriptors {
  protected:
    void SetUp() override {
        KeepsDescriptors::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "capturing needs root";
    }

    const LoadedModule module_{MIRROWEN_MODULE_PATH};
    const TemporaryFolder scratch_;
};

}  // namespace mirrowen::testing
