// Start-up of one instance and the window procedure's message table, with
// the platform calls that each row makes.
#include "app/main_window.h"

#include "support/import_patch.h"
#include "support/timer_calls.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

namespace {

CallLog g_log;
bool g_failCreateWindow;
// DefWindowProcA is logged only for this message: the platform sends the
// window messages of its own while it creates or activates it.
UINT g_defaultedMessage;

decltype(&FindWindowA) g_realFindWindowA;
decltype(&CreateWindowExA) g_realCreateWindowExA;
decltype(&DefWindowProcA) g_realDefWindowProcA;

std::string Text(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

std::string Resource(const void* id)
{
    return IS_INTRESOURCE(id) ? std::to_string((UINT_PTR)id) : Text((const char*)id);
}

std::string Instance(HINSTANCE instance)
{
    return instance == GetModuleHandleA(nullptr) ? "instance" : Hex((UINT_PTR)instance);
}

HWND WINAPI LoggedFindWindowA(LPCSTR className, LPCSTR title)
{
    g_log.Add("FindWindowA(" + Text(className) + "," + Text(title) + ")");
    return g_realFindWindowA(className, title);
}

DWORD WINAPI LoggedGetModuleFileNameA(HMODULE, LPSTR buffer, DWORD)
{
    g_log.Add("GetModuleFileNameA");
    lstrcpyA(buffer, "C:\\no such folder\\Quillmarsh.exe");
    return lstrlenA(buffer);
}

HWND WINAPI LoggedCreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                                  int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    g_log.Add("CreateWindowExA(" + Hex(exStyle) + "," + Resource(className) + "," + Text(title) + "," + Hex(style) +
              "," + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(width) + "," +
              std::to_string(height) + "," + WindowName(parent) + "," + Hex((UINT_PTR)menu) + "," + Instance(instance) +
              "," + Hex((UINT_PTR)param) + ")");
    if (g_failCreateWindow)
        return nullptr;
    return g_realCreateWindowExA(exStyle, className, title, style, x, y, width, height, parent, menu, instance, param);
}

BOOL WINAPI LoggedShowWindow(HWND window, int show)
{
    g_log.Add("ShowWindow(" + WindowName(window) + "," + std::to_string(show) + ")");
    return FALSE;
}

HANDLE WINAPI LoggedLoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags)
{
    g_log.Add("LoadImageA(" + Instance(instance) + "," + Resource(name) + "," + std::to_string(type) + "," +
              std::to_string(cx) + "," + std::to_string(cy) + "," + Hex(flags) + ")");
    return (HANDLE)0x1234;
}

HMODULE WINAPI LoggedLoadLibraryA(LPCSTR name)
{
    // The tray icon is not added from these tests: the library "is missing".
    g_log.Add("LoadLibraryA(" + Text(name) + ")");
    return nullptr;
}

HANDLE WINAPI LoggedSnapshot(DWORD flags, DWORD)
{
    g_log.Add("CreateToolhelp32Snapshot(" + Hex(flags) + ")");
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI LoggedSetProcessWorkingSetSize(HANDLE process, SIZE_T, SIZE_T)
{
    g_log.Add(process == GetCurrentProcess() ? "SetProcessWorkingSetSize(self)" : "SetProcessWorkingSetSize(other)");
    return TRUE;
}

LRESULT WINAPI LoggedDefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_defaultedMessage)
        g_log.Add("DefWindowProcA(" + WindowName(window) + "," + Hex(message) + "," + Hex(wParam) + "," + Hex(lParam) + ")");
    return g_realDefWindowProcA(window, message, wParam, lParam);
}

LRESULT WINAPI LoggedSendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Not passed on: a WM_CLOSE would end the test process.
    g_log.Add("SendMessageA(" + WindowName(window) + "," + Hex(message) + "," + Hex(wParam) + "," + Hex(lParam) + ")");
    return 0;
}

BOOL WINAPI LoggedPostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_log.Add("PostMessageA(" + WindowName(window) + "," + Hex(message) + "," + Hex(wParam) + "," + Hex(lParam) + ")");
    return TRUE;
}

void WINAPI LoggedSleep(DWORD ms) { g_log.Add("Sleep(" + std::to_string(ms) + ")"); }

void WINAPI LoggedPostQuitMessage(int code) { g_log.Add("PostQuitMessage(" + std::to_string(code) + ")"); }

BOOL WINAPI LoggedPeekMessageA(LPMSG, HWND window, UINT first, UINT last, UINT remove)
{
    g_log.Add("PeekMessageA(" + WindowName(window) + "," + Hex(first) + "," + Hex(last) + "," + Hex(remove) + ")");
    return FALSE;
}

BOOL WINAPI LoggedTrackPopupMenu(HMENU, UINT flags, int, int, int, HWND window, const RECT*)
{
    g_log.Add("TrackPopupMenu(" + Hex(flags) + "," + WindowName(window) + ")");
    return FALSE;
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterMainWindowClass(GetModuleHandleA(nullptr)); }

    void SetUp() override
    {
        memset(&g_app, 0, sizeof(g_app));
        g_log = CallLog();
        g_failCreateWindow = false;
        g_defaultedMessage = 0;
        g_realFindWindowA = patches_.Patch("user32.dll", "FindWindowA", LoggedFindWindowA);
        patches_.Patch("kernel32.dll", "GetModuleFileNameA", LoggedGetModuleFileNameA);
        g_realCreateWindowExA = patches_.Patch("user32.dll", "CreateWindowExA", LoggedCreateWindowExA);
        patches_.Patch("user32.dll", "ShowWindow", LoggedShowWindow);
        patches_.Patch("user32.dll", "LoadImageA", LoggedLoadImageA);
        patches_.Patch("kernel32.dll", "LoadLibraryA", LoggedLoadLibraryA);
        PatchTimerCalls(patches_, &g_log);
        patches_.Patch("kernel32.dll", "CreateToolhelp32Snapshot", LoggedSnapshot);
        patches_.Patch("kernel32.dll", "SetProcessWorkingSetSize", LoggedSetProcessWorkingSetSize);
        g_realDefWindowProcA = patches_.Patch("user32.dll", "DefWindowProcA", LoggedDefWindowProcA);
        patches_.Patch("user32.dll", "SendMessageA", LoggedSendMessageA);
        patches_.Patch("user32.dll", "PostMessageA", LoggedPostMessageA);
        patches_.Patch("kernel32.dll", "Sleep", LoggedSleep);
        patches_.Patch("user32.dll", "PostQuitMessage", LoggedPostQuitMessage);
        patches_.Patch("user32.dll", "PeekMessageA", LoggedPeekMessageA);
        patches_.Patch("user32.dll", "TrackPopupMenu", LoggedTrackPopupMenu);
    }

    void TearDown() override
    {
        patches_.RestoreAll();
        if (g_app.mainWindow) {
            KillTimer(g_app.mainWindow, WATCH_TIMER_ID);
            // Destroyed without the window procedure: its WM_DESTROY row
            // would post a quit message to the test's thread.
            SetWindowLongPtrA(g_app.mainWindow, GWLP_WNDPROC, (LONG_PTR)DefWindowProcA);
            DestroyWindow(g_app.mainWindow);
        }
    }

    ImportPatches patches_;
};

std::vector<std::string> SettingsReads() { return std::vector<std::string>(11, "GetModuleFileNameA"); }

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(MainWindowTest, ClassIsRegisteredAsTheHiddenWindowNeedsIt)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "TROVEX", &wc));
    EXPECT_EQ((UINT)(CS_VREDRAW | CS_HREDRAW), wc.style);
    EXPECT_EQ((WNDPROC)MainWindowProc, wc.lpfnWndProc);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(0, wc.cbWndExtra);
    EXPECT_TRUE(wc.hIcon != nullptr);
    EXPECT_TRUE(wc.hCursor != nullptr);
    EXPECT_EQ((HBRUSH)(COLOR_WINDOW + 1), wc.hbrBackground);
    EXPECT_EQ(nullptr, wc.lpszMenuName);
}

TEST_F(MainWindowTest, StartsHiddenReadsSettingsAddsIconAndArmsTimer)
{
    // A window titled without the two trailing spaces is not an instance.
    HWND lookalike = CreateWindowExA(0, "STATIC", "Quillmarsh", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    g_log.recording = true;
    int started = StartInstance(GetModuleHandleA(nullptr));
    g_log.recording = false;
    DestroyWindow(lookalike);
    EXPECT_EQ(1, started);
    std::vector<std::string> expected = Concat(
        Concat({"FindWindowA(null,\"Quillmarsh  \")"}, SettingsReads()),
        {"CreateWindowExA(0x80,\"TROVEX\",\"Quillmarsh  \",0x0,-100,-100,10,10,null,0x0,instance,0x0)",
         "ShowWindow(main,0)", "LoadImageA(instance,107,1,16,16,0x0)", "LoadLibraryA(\"shell32.dll\")",
         "SetTimer(main,999,1000,null)"});
    EXPECT_EQ(expected, g_log.calls) << "expected:\n" << JoinCalls(expected) << "got:\n" << JoinCalls(g_log.calls);
    EXPECT_EQ(GetModuleHandleA(nullptr), g_app.instance);
    ASSERT_TRUE(g_app.mainWindow != nullptr);
    EXPECT_FALSE(IsWindowVisible(g_app.mainWindow));
    EXPECT_EQ((HICON)0x1234, g_app.trayIcon);
    EXPECT_EQ(1000u, g_app.watchInterval);
}

TEST_F(MainWindowTest, RunningInstanceStopsTheStartBeforeAnythingHappens)
{
    HWND running =
        CreateWindowExA(0, "STATIC", "Quillmarsh  ", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    g_log.recording = true;
    int started = StartInstance(GetModuleHandleA(nullptr));
    g_log.recording = false;
    DestroyWindow(running);
    EXPECT_EQ(0, started);
    EXPECT_EQ(std::vector<std::string>{"FindWindowA(null,\"Quillmarsh  \")"}, g_log.calls) << JoinCalls(g_log.calls);
    AppState zero = {};
    EXPECT_EQ(0, memcmp(&zero, &g_app, sizeof(g_app))) << "AppState was touched";
}

TEST_F(MainWindowTest, WindowThatCannotBeCreatedEndsTheStart)
{
    g_failCreateWindow = true;
    g_log.recording = true;
    int started = StartInstance(GetModuleHandleA(nullptr));
    g_log.recording = false;
    EXPECT_EQ(0, started);
    std::vector<std::string> expected = Concat(
        Concat({"FindWindowA(null,\"Quillmarsh  \")"}, SettingsReads()),
        {"CreateWindowExA(0x80,\"TROVEX\",\"Quillmarsh  \",0x0,-100,-100,10,10,null,0x0,instance,0x0)",
         "ShowWindow(null,0)"});
    EXPECT_EQ(expected, g_log.calls) << "expected:\n" << JoinCalls(expected) << "got:\n" << JoinCalls(g_log.calls);
    EXPECT_EQ(nullptr, g_app.mainWindow);
    EXPECT_EQ(nullptr, g_app.trayIcon);
}

struct RowCase {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::vector<std::string> calls;
    bool checkResult; // rows that answer 0 themselves
};

TEST_F(MainWindowTest, MessageTable)
{
    ASSERT_EQ(1, StartInstance(GetModuleHandleA(nullptr)));
    const std::vector<std::string> pass = {"KillTimer(main,999)", "CreateToolhelp32Snapshot(0x2)",
                                           "SetTimer(main,999,1000,null)"};
    const RowCase rows[] = {
        {WM_TIMER, 999, 0, pass, true},
        {WM_TIMER, 1, 0, pass, true},
        {WM_TIMER, 0xFFFF, 0x1234, pass, true},
        {WM_COMMAND, IDM_TRIM_SELF, 0, {"SetProcessWorkingSetSize(self)"}, true},
        {WM_COMMAND, MAKEWPARAM(IDM_TRIM_SELF, 1), 0, {"SetProcessWorkingSetSize(self)"}, true},
        {WM_COMMAND, IDM_EXIT, 0, {"SendMessageA(main,0x10,0x0,0x0)"}, false},
        {WM_COMMAND, MAKEWPARAM(IDM_EXIT, 1), 0x55, {"SendMessageA(main,0x10,0x0,0x0)"}, false},
        {WM_COMMAND, 0x1234, 0, {"DefWindowProcA(main,0x111,0x1234,0x0)"}, false},
        {WM_COMMAND, MAKEWPARAM(0x8007, 0), 0, {"DefWindowProcA(main,0x111,0x8007,0x0)"}, false},
        {WM_DESTROY, 0, 0, {"Sleep(100)", "PostQuitMessage(0)"}, true},
        {WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONUP, {"PostMessageA(main,0x205,0x0,0x0)"}, true},
        {WM_RBUTTONUP, 0, 0, {"TrackPopupMenu(0x2,main)", "SetProcessWorkingSetSize(self)"}, true},
        {WM_LBUTTONUP, 0, 0, {"PeekMessageA(main,0x202,0x202,0x1)", "PeekMessageA(main,0x111,0x111,0x1)"}, true},
        {WM_USER + 1, 2, 3, {"DefWindowProcA(main,0x401,0x2,0x3)"}, false},
        {WM_PAINT, 0, 0, {"DefWindowProcA(main,0xF,0x0,0x0)"}, false},
        {WM_LBUTTONDOWN, 0, 0, {"DefWindowProcA(main,0x201,0x0,0x0)"}, false},
    };
    for (const RowCase& row : rows) {
        g_log.calls.clear();
        g_defaultedMessage = row.message;
        g_log.recording = true;
        LRESULT result = MainWindowProc(g_app.mainWindow, row.message, row.wParam, row.lParam);
        g_log.recording = false;
        std::string what = "message " + Hex(row.message) + " wParam " + Hex(row.wParam) + " lParam " + Hex(row.lParam);
        EXPECT_EQ(row.calls, g_log.calls) << what << "\nexpected:\n"
                                          << JoinCalls(row.calls) << "got:\n"
                                          << JoinCalls(g_log.calls);
        if (row.checkResult)
            EXPECT_EQ(0, result) << what;
    }
}

} // namespace
