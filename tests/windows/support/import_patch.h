// A seam for the system calls of the real Mirrowen.dll, which the Linux tests' linker wrapping
// cannot reach: the DLL calls each imported function through its own import address table, so
// replacing one entry there, in the test process, sends that DLL's calls (and nobody else's) to a
// stand-in of the test's, which may call the real function itself.
#pragma once

#include <windows.h>

namespace mirrowen::testing {

// Replaces, for the object's life, the address that `module`'s import table holds for `function`
// of `importedDll` (by name, any case: "KERNEL32.dll"); the destructor puts the original back.
// Throws when the module does not import that function by name.
class ImportPatch {
  public:
    ImportPatch(HMODULE module, const char* importedDll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

  private:
    void** entry_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace mirrowen::testing
