// The trimming pass against real running processes: which processes it
// opens, trims and closes, in what order, and how the watch timer is handled.
#include "trim/trim_pass.h"

#include "support/import_patch.h"
#include "support/processes.h"
#include "support/timer_calls.h"

#include <tlhelp32.h>
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

CallLog g_log;
std::map<DWORD, std::string> g_pidNames;     // process id -> label in the log
std::map<HANDLE, std::string> g_handleNames; // open handle -> label in the log
bool g_failSnapshot;
bool g_failSetTimer;
// Called right after the real snapshot is taken, before the pass walks it.
void (*g_afterSnapshot)();
std::set<DWORD> g_refusedPids;

decltype(&CreateToolhelp32Snapshot) g_realSnapshot;
decltype(&OpenProcess) g_realOpenProcess;
decltype(&CloseHandle) g_realCloseHandle;

std::string PidName(DWORD pid)
{
    auto it = g_pidNames.find(pid);
    return it != g_pidNames.end() ? it->second : "pid " + std::to_string(pid);
}

std::string HandleName(HANDLE handle)
{
    if (handle == GetCurrentProcess())
        return "self";
    auto it = g_handleNames.find(handle);
    return it != g_handleNames.end() ? it->second : Hex((UINT_PTR)handle);
}

HANDLE WINAPI LoggedSnapshot(DWORD flags, DWORD pid)
{
    g_log.Add("CreateToolhelp32Snapshot(" + Hex(flags) + "," + std::to_string(pid) + ")");
    if (g_failSnapshot)
        return INVALID_HANDLE_VALUE;
    HANDLE snapshot = g_realSnapshot(flags, pid);
    g_handleNames[snapshot] = "snapshot";
    if (g_afterSnapshot)
        g_afterSnapshot();
    return snapshot;
}

HANDLE WINAPI LoggedOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
    g_log.Add("OpenProcess(" + Hex(access) + "," + std::to_string(inherit) + "," + PidName(pid) + ")");
    if (g_refusedPids.count(pid)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HANDLE process = g_realOpenProcess(access, inherit, pid);
    g_handleNames[process] = "handle of " + PidName(pid);
    return process;
}

BOOL WINAPI LoggedSetProcessWorkingSetSize(HANDLE process, SIZE_T minimum, SIZE_T maximum)
{
    g_log.Add("SetProcessWorkingSetSize(" + HandleName(process) + "," + Hex(minimum) + "," + Hex(maximum) + ")");
    return TRUE; // Wine does nothing here either
}

BOOL WINAPI LoggedCloseHandle(HANDLE handle)
{
    auto it = g_handleNames.find(handle);
    if (it != g_handleNames.end()) {
        g_log.Add("CloseHandle(" + it->second + ")");
        g_handleNames.erase(it);
    }
    return g_realCloseHandle(handle);
}

const std::string kTrimAll = Hex((SIZE_T)-1);

class TrimPassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&g_app, 0, sizeof(g_app));
        g_app.mainWindow = CreateWindowExA(0, "STATIC", "trim pass test", 0, 0, 0, 10, 10, nullptr, nullptr,
                                           GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(g_app.mainWindow);
        g_log = CallLog();
        g_pidNames.clear();
        g_handleNames.clear();
        g_failSnapshot = false;
        g_failSetTimer = false;
        g_afterSnapshot = nullptr;
        g_refusedPids.clear();
        PatchTimerCalls(patches_, &g_log, &g_failSetTimer);
        g_realSnapshot = patches_.Patch("kernel32.dll", "CreateToolhelp32Snapshot", LoggedSnapshot);
        g_realOpenProcess = patches_.Patch("kernel32.dll", "OpenProcess", LoggedOpenProcess);
        patches_.Patch("kernel32.dll", "SetProcessWorkingSetSize", LoggedSetProcessWorkingSetSize);
        g_realCloseHandle = patches_.Patch("kernel32.dll", "CloseHandle", LoggedCloseHandle);
        dir_ = MakeTempDir("trim");
        g_pidNames[GetCurrentProcessId()] = "self";
    }

    void TearDown() override
    {
        patches_.RestoreAll();
        KillTimer(g_app.mainWindow, WATCH_TIMER_ID);
        DestroyWindow(g_app.mainWindow);
        for (Child& child : children_)
            EndChild(child);
        RemoveDir(dir_);
    }

    // Starts a sleeper named `exeName`; the log calls it `label`.
    void Start(const std::string& exeName, const std::string& label)
    {
        children_.push_back(StartCopy(ExecutableDir() + "\\sleeper.exe", dir_, exeName));
        g_pidNames[children_.back().info.dwProcessId] = label;
    }

    void SetWatchList(const std::vector<std::string>& names)
    {
        for (size_t i = 0; i < names.size(); i++)
            lstrcpynA(g_app.watchList[i], names[i].c_str(), WATCH_ENTRY_SIZE);
    }

    // The calls one pass makes when the processes named in `trimmed` match,
    // each once per entry in `times`, listed in the order the snapshot walks them.
    std::vector<std::string> ExpectedPass(const std::map<std::string, int>& trimmed, unsigned interval)
    {
        std::vector<std::string> calls = {"KillTimer(main,999)", "CreateToolhelp32Snapshot(0x2,0)"};
        for (DWORD pid : SnapshotOrder()) {
            auto label = g_pidNames.find(pid);
            if (label == g_pidNames.end() || !trimmed.count(label->second))
                continue;
            for (int n = 0; n < trimmed.at(label->second); n++) {
                calls.push_back("OpenProcess(0x500,0," + label->second + ")");
                if (g_refusedPids.count(pid))
                    continue;
                calls.push_back("SetProcessWorkingSetSize(handle of " + label->second + "," + kTrimAll + "," +
                                kTrimAll + ")");
                calls.push_back("CloseHandle(handle of " + label->second + ")");
            }
        }
        if (!g_failSnapshot)
            calls.push_back("CloseHandle(snapshot)");
        calls.push_back("SetTimer(main,999," + std::to_string(interval) + ",null)");
        return calls;
    }

    void RunPassAndCompare(const char* what, const std::vector<std::string>& expected)
    {
        g_log.calls.clear();
        g_log.recording = true;
        RunTrimPass();
        g_log.recording = false;
        EXPECT_EQ(expected, g_log.calls) << what << "\nexpected:\n"
                                         << JoinCalls(expected) << "got:\n"
                                         << JoinCalls(g_log.calls);
    }

    ImportPatches patches_;
    std::string dir_;
    std::vector<Child> children_;
};

struct PassCase {
    const char* what;
    std::vector<std::string> watchList;
    std::map<std::string, int> trimmed; // label -> times opened per pass
};

TEST_F(TrimPassTest, TrimsEveryProcessOnTheWatchList)
{
    Start("qmtool.exe", "tool#1");
    Start("qmtool.exe", "tool#2");
    Start("qmEditor.exe", "editor");
    Start("qmother.exe", "other");
    char ownName[MAX_PATH];
    GetModuleFileNameA(nullptr, ownName, MAX_PATH);
    std::string self = strrchr(ownName, '\\') + 1;
    const PassCase cases[] = {
        {"all entries empty", {}, {}},
        {"one name, other letter case", {"QMEDITOR.EXE"}, {{"editor", 1}}},
        {"two processes of one name", {"qmtool.exe"}, {{"tool#1", 1}, {"tool#2", 1}}},
        {"a name in two entries trims twice", {"qmtool.exe", "", "QMTOOL.EXE"}, {{"tool#1", 2}, {"tool#2", 2}}},
        {"entries after an empty one still count", {"", "", "", "", "", "", "", "", "", "qmother.exe"}, {{"other", 1}}},
        {"near misses do not match",
         {"qmtool", "qmtool.exe ", " qmtool.exe", "C:\\qmtool.exe", "qmtool.ex", "qmtool.exe.exe", "qm*.exe"},
         {}},
        {"several names", {"qmother.exe", "qmeditor.exe", "nosuch.exe"}, {{"other", 1}, {"editor", 1}}},
        {"the program's own name", {self}, {{"self", 1}}},
    };
    for (const PassCase& c : cases) {
        memset(g_app.watchList, 0, sizeof(g_app.watchList));
        SetWatchList(c.watchList);
        g_app.watchInterval = 1000;
        RunPassAndCompare(c.what, ExpectedPass(c.trimmed, 1000));
    }
}

TEST_F(TrimPassTest, RefusedOpenIsSkippedAndTriedPerEntry)
{
    Start("qmlocked.exe", "locked");
    Start("qmfree.exe", "free");
    g_refusedPids.insert(children_[0].info.dwProcessId);
    SetWatchList({"qmlocked.exe", "qmfree.exe", "QMLOCKED.EXE"});
    g_app.watchInterval = 1000;
    RunPassAndCompare("first pass", ExpectedPass({{"locked", 2}, {"free", 1}}, 1000));
    RunPassAndCompare("the next pass tries again", ExpectedPass({{"locked", 2}, {"free", 1}}, 1000));
}

TEST_F(TrimPassTest, FailedSnapshotStillRearmsTheTimer)
{
    Start("qmtool.exe", "tool");
    SetWatchList({"qmtool.exe"});
    g_app.watchInterval = 1000;
    g_failSnapshot = true;
    RunPassAndCompare("no snapshot", {"KillTimer(main,999)", "CreateToolhelp32Snapshot(0x2,0)",
                                      "SetTimer(main,999,1000,null)"});
    g_failSnapshot = false;
    RunPassAndCompare("the next pass takes a snapshot again", ExpectedPass({{"tool", 1}}, 1000));
}

TEST_F(TrimPassTest, TimerThatCannotBeSetIsNotTriedAgain)
{
    Start("qmtool.exe", "tool");
    SetWatchList({"qmtool.exe"});
    g_app.watchInterval = 1000;
    g_failSetTimer = true;
    RunPassAndCompare("SetTimer fails", ExpectedPass({{"tool", 1}}, 1000));
}

Child* g_ending; // the child that ends between the snapshot and the open

void EndWatchedChild()
{
    g_log.recording = false;
    EndChild(*g_ending);
    g_log.recording = true;
}

TEST_F(TrimPassTest, ProcessThatEndsBeforeItIsOpenedDoesNotDisturbThePass)
{
    Start("qmgone.exe", "gone");
    Start("qmstay.exe", "stay");
    SetWatchList({"qmgone.exe", "qmstay.exe"});
    g_app.watchInterval = 1000;
    g_ending = &children_[0];
    g_afterSnapshot = EndWatchedChild;
    g_log.recording = true;
    RunTrimPass();
    g_log.recording = false;
    const std::vector<std::string>& calls = g_log.calls;
    // Whether the ended process can still be opened is the system's affair;
    // the pass tries it, trims the other, closes whatever it opened and
    // re-arms the timer.
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "OpenProcess(0x500,0,gone)")) << JoinCalls(calls);
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "CloseHandle(handle of stay)")) << JoinCalls(calls);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("CloseHandle(snapshot)", calls[calls.size() - 2]) << JoinCalls(calls);
    EXPECT_EQ("SetTimer(main,999,1000,null)", calls.back()) << JoinCalls(calls);
    EXPECT_TRUE(g_handleNames.empty()) << "handles left open: " << g_handleNames.begin()->second;
}

TEST_F(TrimPassTest, IntervalIsHandedToTheTimerUnchanged)
{
    for (DWORD interval : {0u, 1u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        g_app.watchInterval = interval;
        RunPassAndCompare(("interval " + std::to_string(interval)).c_str(), ExpectedPass({}, interval));
        g_log.calls.clear();
        g_log.recording = true;
        ArmWatchTimer();
        g_log.recording = false;
        EXPECT_EQ(std::vector<std::string>{"SetTimer(main,999," + std::to_string(interval) + ",null)"}, g_log.calls);
    }
}

TEST_F(TrimPassTest, OwnWorkingSetIsEmptiedThroughThePseudoHandle)
{
    g_log.recording = true;
    TrimOwnWorkingSet();
    EXPECT_EQ(std::vector<std::string>{"SetProcessWorkingSetSize(self," + kTrimAll + "," + kTrimAll + ")"},
              g_log.calls);
}

} // namespace
