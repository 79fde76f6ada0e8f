// Replaces entries of the test executable's own import table, so that the
// program's code, linked into the test, calls a recording or failing stand-in
// for a platform function. Only calls made from this executable are caught.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ImportPatch {
    void** slot = nullptr;
    void* original = nullptr;
};

// Points the import of `function` from `dll` at `replacement`; returns the
// slot and its former value. Fails the calling test when there is no such import.
ImportPatch PatchImport(const char* dll, const char* function, void* replacement);
void RestoreImport(const ImportPatch& patch);

// Patches a set of imports for the lifetime of the object.
class ImportPatches {
public:
    ~ImportPatches() { RestoreAll(); }
    template <typename F>
    F Patch(const char* dll, const char* function, F replacement)
    {
        patches_.push_back(PatchImport(dll, function, reinterpret_cast<void*>(replacement)));
        return reinterpret_cast<F>(patches_.back().original);
    }
    void RestoreAll()
    {
        for (auto it = patches_.rbegin(); it != patches_.rend(); ++it)
            RestoreImport(*it);
        patches_.clear();
    }

private:
    std::vector<ImportPatch> patches_;
};

// A log of platform calls, one line per call, for comparison against a table
// of expected calls.
struct CallLog {
    bool recording = false;
    std::vector<std::string> calls;
    void Add(const std::string& call)
    {
        if (recording)
            calls.push_back(call);
    }
};

std::string Hex(unsigned long long value);
std::string JoinCalls(const std::vector<std::string>& calls);
