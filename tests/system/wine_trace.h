// Reading Wine's relay trace of a program: the calls it made into the
// platform DLLs, with their arguments.
#pragma once

#include <string>
#include <vector>

struct TracedCall {
    std::string function; // "KERNEL32.OpenProcess", "user32.SetTimer", "shell32.Shell_NotifyIconA"
    std::vector<std::string> args; // as Wine prints them: hex without 0x
    unsigned long long returnAddress;
    std::string line;
};

// The trace file that the test runner collects (its QM_RELAY_TRACE); every
// program started with WINEDEBUG=+relay writes its trace there.
std::string RelayTracePath();

// The calls in the trace made by thread `threadId` from code at or above
// `imageBase` (the program's own image) and below imageBase + 16 MiB.
std::vector<TracedCall> ReadTrace(const std::string& path, unsigned long threadId, unsigned long long imageBase);
std::vector<TracedCall> CallsTo(const std::vector<TracedCall>& calls, const std::string& function);
// "name(arg,arg)" with the DLL name dropped, for readable expectations.
std::string Describe(const TracedCall& call);
std::string DescribeAll(const std::vector<TracedCall>& calls);
std::string HexArg(unsigned long long value); // as Wine prints an argument
