// Measures what one trimming pass costs against a bare walk of the same kind
// of process snapshot, with 20 and with 100 processes running, about half of
// them watched. Prints one line per process count; a benchmark, not a test.
#include "trim/trim_pass.h"

#include "support/processes.h"
#include "support/temp_dir.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// What any pass must do at least: take the snapshot and walk it.
void BareWalk()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 process;
    process.dwSize = sizeof(process);
    for (BOOL more = Process32First(snapshot, &process); more; more = Process32Next(snapshot, &process)) {
    }
    CloseHandle(snapshot);
}

double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Runs both, interleaved, `rounds` times; returns the medians in microseconds.
void Measure(int rounds, double* pass, double* walk)
{
    std::vector<double> passTimes, walkTimes;
    for (int i = 0; i < rounds; i++) {
        double start = Now();
        RunTrimPass();
        double middle = Now();
        BareWalk();
        double end = Now();
        passTimes.push_back((middle - start) * 1e6);
        walkTimes.push_back((end - middle) * 1e6);
    }
    *pass = Median(passTimes);
    *walk = Median(walkTimes);
}

} // namespace

int main()
{
    g_app.mainWindow = CreateWindowExA(0, "STATIC", "bench", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    g_app.watchInterval = 600000;
    // Ten names on the watch list; each process count starts half of its
    // processes under these names and half under others.
    for (int i = 0; i < WATCH_LIST_ENTRIES; i++)
        wsprintfA(g_app.watchList[i], "qmwatch%d.exe", i);
    std::string dir = MakeTempDir("bench");
    std::string sleeper = ExecutableDir() + "\\sleeper.exe";
    std::vector<Child> children;
    std::printf("%-10s %-9s %-12s %-12s %-12s %-18s\n", "processes", "watched", "pass (us)", "walk (us)",
                "pass / walk", "nothing watched / walk");
    for (int total : {20, 100}) {
        while ((int)children.size() < total) {
            int n = (int)children.size();
            char name[32];
            if (n % 2 == 0)
                wsprintfA(name, "qmwatch%d.exe", (n / 2) % WATCH_LIST_ENTRIES);
            else
                wsprintfA(name, "qmother%d.exe", n);
            children.push_back(StartCopy(sleeper, dir, name));
        }
        int running = (int)SnapshotOrder().size();
        double pass = 0, walk = 0, idlePass = 0, idleWalk = 0;
        Measure(300, &pass, &walk);
        // The same with an empty watch list: the cost of the comparisons alone.
        char saved[WATCH_LIST_ENTRIES][WATCH_ENTRY_SIZE];
        memcpy(saved, g_app.watchList, sizeof(saved));
        memset(g_app.watchList, 0, sizeof(g_app.watchList));
        Measure(300, &idlePass, &idleWalk);
        memcpy(g_app.watchList, saved, sizeof(saved));
        std::printf("%-10d %-9d %-12.1f %-12.1f %-12.3f %-18.3f (%d processes in the snapshot)\n", total, total / 2,
                    pass, walk, pass / walk, idlePass / idleWalk, running);
    }
    for (Child& child : children)
        EndChild(child);
    RemoveDir(dir);
    KillTimer(g_app.mainWindow, WATCH_TIMER_ID);
    return 0;
}
