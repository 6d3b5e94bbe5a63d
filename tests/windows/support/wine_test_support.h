// What the Windows tests of the real Mirrowen.dll share besides the portable test support: loading
// the DLL as a host does, and handing it a folder path.
#pragma once

#include <string>
#include <vector>

#include "box_watcher.h"
#include "mirrowen.h"
#include "test_core.h"

namespace mirrowen::testing {

// A file beside the running test program.
std::string BesideThisProgram(const std::string& name);

// Loads a DLL by path and binds its Mirrowen; throws if either fails.
MirrowenFunction LoadMirrowen(const std::string& dllPath);
// Mirrowen.dll beside the test program, loaded at the first use.
MirrowenFunction TheMirrowen();

// A writable copy of a path, as the host hands the folder path over.
std::vector<char> PathBuffer(const std::string& path);

}  // namespace mirrowen::testing
