// Walks the running processes and empties the working set of each one whose
// executable name is on the watch list.
#include "trim/trim_pass.h"

#include <tlhelp32.h>

#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 of the 32-bit image");
#endif

// Asking for a maximum of (SIZE_T)-1 tells the system to remove as many pages
// as it can.
#define EMPTY_WORKING_SET ((SIZE_T)-1)

static void TrimProcessForEntries(const PROCESSENTRY32* process)
{
    for (int i = 0; i < WATCH_LIST_ENTRIES; i++) {
        const char* entry = g_app.watchList[i];
        if (entry[0] == '\0' || !ExeNameMatches(entry, process->szExeFile))
            continue;
        // Every matching entry trims again: a name listed twice is trimmed
        // twice, once per entry.
        HANDLE handle = OpenProcess(TRIM_PROCESS_ACCESS, FALSE, process->th32ProcessID);
        if (!handle)
            continue;
        SetProcessWorkingSetSize(handle, EMPTY_WORKING_SET, EMPTY_WORKING_SET);
        CloseHandle(handle);
    }
}

// The timer is stopped for the whole pass and armed again at its end, so
// passes never overlap and the interval counts from the end of a pass.
void RunTrimPass()
{
    KillTimer(g_app.mainWindow, WATCH_TIMER_ID);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 process;
        process.dwSize = sizeof(process);
        if (Process32First(snapshot, &process)) {
            do {
                TrimProcessForEntries(&process);
            } while (Process32Next(snapshot, &process));
        }
        CloseHandle(snapshot);
    }
    ArmWatchTimer();
}

void ArmWatchTimer()
{
    SetTimer(g_app.mainWindow, WATCH_TIMER_ID, g_app.watchInterval, NULL);
}

void TrimOwnWorkingSet()
{
    SetProcessWorkingSetSize(GetCurrentProcess(), EMPTY_WORKING_SET, EMPTY_WORKING_SET);
}
