// The real image, started as a process of its own under Wine and driven from
// outside: the single-instance guard, the close paths and their exit codes,
// the first message, and trimming at the interval from the settings file,
// seen in Wine's relay trace.
#include "system/image_runner.h"

#include "support/temp_dir.h"

namespace {

TEST_F(ImageTest, SecondStartEndsWithZeroAndLeavesTheFirstRunning)
{
    ImageRun& first = Start(exe_, false);
    ASSERT_TRUE(WaitForWindow(first));
    ImageRun& second = Start(exe_, true);
    EXPECT_EQ(0u, WaitForExit(second, kWaitMs));
    std::vector<TracedCall> calls = Trace(second);
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
        WaitForCalls(run, "user32.SetTimer", 1);
        EXPECT_TRUE(TrayIconExists(window)) << c.what;
        if (c.send) {
            DWORD_PTR ignored;
            SendMessageTimeoutA(window, c.message, c.wParam, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        } else {
            PostMessageA(window, c.message, c.wParam, 0);
        }
        EXPECT_EQ(0u, WaitForExit(run, kWaitMs)) << c.what;
        EXPECT_FALSE(TrayIconExists(window)) << c.what << ": the icon outlived the program";
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
        std::vector<std::string> got = CloseCalls(Trace(run));
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
    WaitForCalls(run, "user32.SetTimer", 1);
    PostThreadMessageA(run.info.dwThreadId, WM_QUIT, 7, 0);
    EXPECT_EQ(7u, WaitForExit(run, kWaitMs));
    std::vector<TracedCall> calls = Trace(run);
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
    std::vector<TracedCall> calls = Trace(run);
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
    std::vector<TracedCall> opens = WaitForCalls(run, "KERNEL32.OpenProcess", 3);
    std::vector<TracedCall> calls = Trace(run);
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
    std::vector<TracedCall> timers = WaitForCalls(run, "user32.SetTimer", 1);
    ASSERT_FALSE(timers.empty());
    EXPECT_EQ(HexArg(4321), timers[0].args[2]);
}

} // namespace
