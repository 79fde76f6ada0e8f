// Walks the import descriptors of the test executable and swaps the address
// in one import slot.
#include "support/import_patch.h"

#include <gtest/gtest.h>

#include <cstdio>

ImportPatch PatchImport(const char* dll, const char* function, void* replacement)
{
    ImportPatch patch;
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; desc->Name; desc++) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char*>(byName->Name), function) != 0)
                continue;
            patch.slot = reinterpret_cast<void**>(&slots->u1.Function);
            patch.original = *patch.slot;
            DWORD oldProtect;
            VirtualProtect(patch.slot, sizeof(void*), PAGE_READWRITE, &oldProtect);
            *patch.slot = replacement;
            VirtualProtect(patch.slot, sizeof(void*), oldProtect, &oldProtect);
            return patch;
        }
    }
    ADD_FAILURE() << "the test executable does not import " << dll << "!" << function;
    return patch;
}

void RestoreImport(const ImportPatch& patch)
{
    if (!patch.slot)
        return;
    DWORD oldProtect;
    VirtualProtect(patch.slot, sizeof(void*), PAGE_READWRITE, &oldProtect);
    *patch.slot = patch.original;
    VirtualProtect(patch.slot, sizeof(void*), oldProtect, &oldProtect);
}

std::string Hex(unsigned long long value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "0x%llX", value);
    return text;
}

std::string JoinCalls(const std::vector<std::string>& calls)
{
    std::string text;
    for (const std::string& call : calls)
        text += "    " + call + "\n";
    return text.empty() ? "    (no calls)\n" : text;
}
