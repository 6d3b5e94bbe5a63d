#include "import_patch.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace mirrowen::testing {

namespace {

// The import address table's entry for one function, found through the import descriptors of the
// loaded image: each names a DLL, and its lookup table (OriginalFirstThunk) names the functions
// in the order of their entries in the address table (FirstThunk). IMAGE_NT_HEADERS and
// IMAGE_THUNK_DATA are the 32- or 64-bit layouts, as the test program itself is built.
void** FindImportEntry(HMODULE module, const char* importedDll, const char* function) {
    auto* const base = reinterpret_cast<unsigned char*>(module);
    const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (auto* descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), importedDll) != 0) {
            continue;
        }
        const auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk
                                                        : descriptor->FirstThunk));
        auto* address = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&address->u1.Function);
            }
        }
    }
    return nullptr;
}

// The table usually lies in read-only memory once the loader has filled it in.
bool Store(void** entry, void* value) {
    DWORD protection = 0;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection)) return false;
    *entry = value;
    VirtualProtect(entry, sizeof *entry, protection, &protection);
    return true;
}

}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* importedDll, const char* function,
                         void* replacement)
    : entry_(FindImportEntry(module, importedDll, function)) {
    if (entry_ == nullptr) {
        throw std::runtime_error(std::string("the module imports no ") + importedDll + " " +
                                 function);
    }
    original_ = *entry_;
    if (!Store(entry_, replacement)) {
        throw std::runtime_error(std::string("cannot write the import table entry of ") + function);
    }
}

// What could be written once can be written back.
ImportPatch::~ImportPatch() { Store(entry_, original_); }

}  // namespace mirrowen::testing
