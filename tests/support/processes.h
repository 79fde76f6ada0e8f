// Child processes for the tests: copies of the sleeper under chosen names,
// and a look at the system's process list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Child {
    PROCESS_INFORMATION info = {};
    std::string exeName;
};

// Copies `source` to `dir`\`exeName` (once) and starts it; waits until the
// process shows in a process snapshot.
Child StartCopy(const std::string& source, const std::string& dir, const std::string& exeName);
void EndChild(Child& child);

// The ids of the running processes in the order a snapshot lists them.
std::vector<DWORD> SnapshotOrder();
