// The real image, started as a process of its own under Wine and driven from
// outside: the single-instance guard, the close paths and their exit codes,
// the first message, and trimming at the interval from the settings file,
// seen in Wine's relay trace.
#include "system/wine_trace.h"

#include "support/processes.h"
#include "support/temp_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

namespace {

const char kTitle[] = "Quillmarsh  ";
const DWORD kWaitMs = 20000;

std::string ImagePath() { return ExecutableDir() + "\\..\\Quillmarsh.exe"; }

unsigned long long ImageBase(const std::string& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
    return nt->OptionalHeader.ImageBase;
}

// One start of the image from a folder of its own.
struct ImageRun {
    PROCESS_INFORMATION info = {};
    HWND window = nullptr;
};

// Starts `exePath`; with `traced`, Wine adds a relay trace of its calls to the
// runner's trace file.
ImageRun Launch(const std::string& exePath, bool traced)
{
    ImageRun run;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string environment;
    if (traced) {
        // Wine reads WINEDEBUG from the environment the process starts with.
        char* block = GetEnvironmentStringsA();
        for (char* entry = block; *entry; entry += strlen(entry) + 1)
            if (_strnicmp(entry, "WINEDEBUG=", 10) != 0)
                environment.append(entry).push_back('\0');
        FreeEnvironmentStringsA(block);
        environment.append("WINEDEBUG=+relay").push_back('\0');
        environment.push_back('\0');
    }
    std::string commandLine = "\"" + exePath + "\"";
    std::string dir = exePath.substr(0, exePath.find_last_of('\\'));
    if (!CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                        traced ? &environment[0] : nullptr, dir.c_str(), &startup, &run.info))
        ADD_FAILURE() << "cannot start " << exePath << ", error " << GetLastError();
    return run;
}

// The top-level window titled "Quillmarsh  " that belongs to `run`, once it exists.
HWND WaitForWindow(ImageRun& run)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        for (HWND w = FindWindowExA(nullptr, nullptr, nullptr, kTitle); w;
             w = FindWindowExA(nullptr, w, nullptr, kTitle)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == run.info.dwProcessId)
                return run.window = w;
        }
        if (WaitForSingleObject(run.info.hProcess, 20) == WAIT_OBJECT_0)
            break;
    }
    ADD_FAILURE() << "the program's window never appeared";
    return nullptr;
}

// The exit code, or STILL_ACTIVE when the process is still running after `ms`.
DWORD WaitForExit(ImageRun& run, DWORD ms)
{
    WaitForSingleObject(run.info.hProcess, ms);
    DWORD code = 0;
    GetExitCodeProcess(run.info.hProcess, &code);
    return code;
}

void End(ImageRun& run)
{
    if (!run.info.hProcess)
        return;
    if (WaitForSingleObject(run.info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(run.info.hProcess, 99);
        WaitForSingleObject(run.info.hProcess, kWaitMs);
    }
    CloseHandle(run.info.hThread);
    CloseHandle(run.info.hProcess);
    run.info = PROCESS_INFORMATION();
}

std::vector<TracedCall> Trace(const ImageRun& run, const std::string& exePath)
{
    return ReadTrace(RelayTracePath(), run.info.dwThreadId, ImageBase(exePath));
}

// Waits until the trace holds at least `count` calls to `function`.
std::vector<TracedCall> WaitForCalls(const ImageRun& run, const std::string& exePath, const std::string& function,
                                     size_t count)
{
    std::vector<TracedCall> found;
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        found = CallsTo(Trace(run, exePath), function);
        if (found.size() >= count)
            break;
        Sleep(50);
    }
    return found;
}

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(RelayTracePath().empty()) << "run through scripts/wine-run --trace";
        dir_ = MakeTempDir("image");
        exe_ = dir_ + "\\Quillmarsh.exe";
        ASSERT_TRUE(CopyFileA(ImagePath().c_str(), exe_.c_str(), FALSE)) << ImagePath();
    }
    void TearDown() override
    {
        for (ImageRun& run : runs_)
            End(run);
        for (Child& child : children_)
            EndChild(child);
        RemoveDir(dir_);
    }
    ImageRun& Start(const std::string& exePath, bool traced)
    {
        runs_.push_back(Launch(exePath, traced));
        return runs_.back();
    }
    void Settings(const std::string& text) { WriteFile(dir_ + "\\QuillmarshNT_QX.ini", text); }

    std::string dir_;
    std::string exe_;
    std::deque<ImageRun> runs_; // references to its runs stay valid as it grows
    std::vector<Child> children_;
};

TEST_F(ImageTest, SecondStartEndsWithZeroAndLeavesTheFirstRunning)
{
    ImageRun& first = Start(exe_, false);
    ASSERT_TRUE(WaitForWindow(first));
    ImageRun& second = Start(exe_, true);
    EXPECT_EQ(0u, WaitForExit(second, kWaitMs));
    std::vector<TracedCall> calls = Trace(second, exe_);
    EXPECT_TRUE(CallsTo(calls, "user32.SetTimer").empty()) << DescribeAll(calls);
    EXPECT_TRUE(CallsTo(calls, "shell32.Shell_NotifyIconA").empty()) << DescribeAll(calls);
    EXPECT_EQ((DWORD)STILL_ACTIVE, WaitForExit(runs_[0], 0));
    EXPECT_TRUE(IsWindow(runs_[0].window));
}

TEST_F(ImageTest, OnlyTheExactTitleStopsAStart)
{
    struct TitleCase {
        const char* title;
        bool stops;
    };
    const TitleCase cases[] = {{"Quillmarsh  ", true}, {"Quillmarsh", false}, {"Quillmarsh ", false},
                               {"quillmarsh  ", true}};
    for (const TitleCase& c : cases) {
        HWND foreign = CreateWindowExA(0, "STATIC", c.title, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ImageRun& run = Start(exe_, false);
        if (c.stops) {
            EXPECT_EQ(0u, WaitForExit(run, kWaitMs)) << "a window titled \"" << c.title << "\"";
        } else {
            EXPECT_TRUE(WaitForWindow(run)) << "a window titled \"" << c.title << "\"";
            End(run);
        }
        DestroyWindow(foreign);
    }
}

// The calls of the close sequence, from the program's own code.
std::vector<std::string> CloseCalls(const std::vector<TracedCall>& calls)
{
    std::vector<std::string> found;
    bool closing = false;
    for (const TracedCall& call : calls) {
        std::string text = Describe(call);
        if (text.rfind("KillTimer(", 0) == 0)
            found.clear(), closing = true;
        if (!closing || call.function == "user32.SetTimer")
            continue;
        // The first argument alone; a string argument as its text, an
        // address (a module) not at all.
        std::string name = text.substr(0, text.find('('));
        std::string arg = call.args.empty() ? "" : call.args[0];
        if (arg.find(" \"") != std::string::npos)
            arg = arg.substr(arg.find(" \"") + 1);
        found.push_back(name == "FreeLibrary" ? name : name + "(" + arg + ")");
    }
    return found;
}

TEST_F(ImageTest, CloseMessagesEndTheProgramThroughTheCloseSequence)
{
    struct CloseCase {
        const char* what;
        UINT message;
        WPARAM wParam;
        bool send;
    };
    const CloseCase cases[] = {
        {"WM_CLOSE posted", WM_CLOSE, 0, false},
        {"WM_CLOSE sent", WM_CLOSE, 0, true},
        {"WM_QUERYENDSESSION sent", WM_QUERYENDSESSION, 0, true},
        {"WM_QUIT sent to the window", WM_QUIT, 5, true},
        {"IDM_EXIT with a high word", WM_COMMAND, MAKEWPARAM(57665, 1), false},
    };
    Settings("[Setting]\r\nWatchTimer=60000\r\n");
    for (const CloseCase& c : cases) {
        ImageRun& run = Start(exe_, true);
        HWND window = WaitForWindow(run);
        ASSERT_TRUE(window) << c.what;
        // Let start-up finish: the icon is added before the timer is armed.
        WaitForCalls(run, exe_, "user32.SetTimer", 1);
        if (c.send) {
            DWORD_PTR ignored;
            SendMessageTimeoutA(window, c.message, c.wParam, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        } else {
            PostMessageA(window, c.message, c.wParam, 0);
        }
        EXPECT_EQ(0u, WaitForExit(run, kWaitMs)) << c.what;
        std::string w = HexArg((UINT_PTR)window);
        std::vector<std::string> expected = {"KillTimer(" + w + ")",
                                             "LoadLibraryA(\"shell32.dll\")",
                                             "Shell_NotifyIconA(00000002)",
                                             "FreeLibrary",
                                             "DestroyWindow(" + w + ")",
                                             "Sleep(00000064)",
                                             "PostQuitMessage(00000000)",
                                             "Sleep(00000064)",
                                             "ExitProcess(00000000)"};
        std::vector<std::string> got = CloseCalls(Trace(run, exe_));
        std::string gotText;
        for (const std::string& call : got)
            gotText += "    " + call + "\n";
        EXPECT_EQ(expected, got) << c.what << "; got:\n" << gotText;
        End(run);
    }
}

TEST_F(ImageTest, PostedQuitEndsTheLoopWithItsCodeAndNoCloseSequence)
{
    Settings("[Setting]\r\nWatchTimer=60000\r\n");
    ImageRun& run = Start(exe_, true);
    ASSERT_TRUE(WaitForWindow(run));
    WaitForCalls(run, exe_, "user32.SetTimer", 1);
    PostThreadMessageA(run.info.dwThreadId, WM_QUIT, 7, 0);
    EXPECT_EQ(7u, WaitForExit(run, kWaitMs));
    std::vector<TracedCall> calls = Trace(run, exe_);
    EXPECT_TRUE(CallsTo(calls, "user32.KillTimer").empty()) << DescribeAll(calls);
    EXPECT_EQ(1u, CallsTo(calls, "shell32.Shell_NotifyIconA").size()) << "only the add:\n" << DescribeAll(calls);
}

TEST_F(ImageTest, FirstMessageIsHandledNotDropped)
{
    // With a long interval the first message is the one posted here.
    Settings("[Setting]\r\nWatchTimer=60000\r\n");
    ImageRun& run = Start(exe_, true);
    HWND window = WaitForWindow(run);
    ASSERT_TRUE(window);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, WaitForExit(run, kWaitMs)) << "the first message, a WM_CLOSE, was not handled";
    std::vector<TracedCall> calls = Trace(run, exe_);
    std::vector<TracedCall> trims = CallsTo(calls, "KERNEL32.SetProcessWorkingSetSize");
    ASSERT_FALSE(trims.empty()) << DescribeAll(calls);
    EXPECT_EQ("ffffffffffffffff", trims[0].args[0]) << "own working set emptied after the first wait";
    EXPECT_EQ(1u, CallsTo(calls, "user32.KillTimer").size()) << DescribeAll(calls);
}

TEST_F(ImageTest, WatchedProcessIsTrimmedAtTheIntervalFromTheSettingsFile)
{
    children_.push_back(StartCopy(ExecutableDir() + "\\sleeper.exe", dir_, "qmwatched.exe"));
    std::string pid = HexArg(children_.back().info.dwProcessId);
    Settings("[Setting]\r\nWatchTimer=300\r\n[Proc]\r\n0=QMWATCHED.EXE\r\n1=nosuch.exe\r\n");
    ImageRun& run = Start(exe_, true);
    ASSERT_TRUE(WaitForWindow(run));
    std::vector<TracedCall> opens = WaitForCalls(run, exe_, "KERNEL32.OpenProcess", 3);
    std::vector<TracedCall> calls = Trace(run, exe_);
    ASSERT_GE(opens.size(), 3u) << DescribeAll(calls);
    for (const TracedCall& open : opens)
        EXPECT_EQ("OpenProcess(00000500,00000000," + pid + ")", Describe(open));
    std::vector<TracedCall> timers = CallsTo(calls, "user32.SetTimer");
    ASSERT_GE(timers.size(), 3u);
    for (const TracedCall& timer : timers)
        EXPECT_EQ(HexArg(300), timer.args[2]) << Describe(timer);
    // Each pass: timer stopped, snapshot, the watched process trimmed, timer armed.
    size_t firstPass = 0;
    while (firstPass < calls.size() && calls[firstPass].function != "user32.KillTimer")
        firstPass++;
    std::vector<std::string> pass;
    for (size_t i = firstPass; i < calls.size() && pass.size() < 5; i++)
        pass.push_back(Describe(calls[i]).substr(0, Describe(calls[i]).find('(')));
    std::vector<std::string> expected = {"KillTimer", "CreateToolhelp32Snapshot", "OpenProcess",
                                         "SetProcessWorkingSetSize", "SetTimer"};
    EXPECT_EQ(expected, pass) << DescribeAll(calls);
}

TEST_F(ImageTest, CopyUnderAnotherNameReadsTheSameSettingsFile)
{
    std::string other = dir_ + "\\Trimmer.exe";
    ASSERT_TRUE(CopyFileA(exe_.c_str(), other.c_str(), FALSE));
    Settings("[Setting]\r\nWatchTimer=4321\r\n");
    ImageRun& run = Start(other, true);
    ASSERT_TRUE(WaitForWindow(run));
    std::vector<TracedCall> timers = WaitForCalls(run, other, "user32.SetTimer", 1);
    ASSERT_FALSE(timers.empty());
    EXPECT_EQ(HexArg(4321), timers[0].args[2]);
}

} // namespace
