// Mouse events on the icon: which button messages are re-posted, what a
// left-button release removes from the real message queue, and the steps of
// showing the menu.
#include "tray/tray_menu.h"

#include "support/import_patch.h"
#include "support/timer_calls.h"

#include <gtest/gtest.h>

namespace {

CallLog g_log;
bool g_menuMissing;
HMENU g_loadedMenu;

decltype(&PostMessageA) g_realPostMessageA;
decltype(&LoadMenuA) g_realLoadMenuA;
decltype(&GetSubMenu) g_realGetSubMenu;
decltype(&DestroyMenu) g_realDestroyMenu;

std::string MenuName(HMENU menu)
{
    if (!menu)
        return "null";
    if (menu == g_loadedMenu)
        return "menu";
    return g_loadedMenu && menu == g_realGetSubMenu(g_loadedMenu, 0) ? "popup" : Hex((UINT_PTR)menu);
}

BOOL WINAPI LoggedPostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_log.Add("PostMessageA(" + WindowName(window) + "," + Hex(message) + "," + Hex(wParam) + "," + Hex(lParam) + ")");
    return g_realPostMessageA(window, message, wParam, lParam);
}

HMENU WINAPI LoggedLoadMenuA(HINSTANCE instance, LPCSTR name)
{
    g_log.Add("LoadMenuA(" + std::string(instance == GetModuleHandleA(nullptr) ? "instance" : "other") + "," +
              std::to_string((UINT_PTR)name) + ")");
    g_loadedMenu = g_menuMissing ? nullptr : g_realLoadMenuA(instance, name);
    return g_loadedMenu;
}

HMENU WINAPI LoggedGetSubMenu(HMENU menu, int position)
{
    g_log.Add("GetSubMenu(" + MenuName(menu) + "," + std::to_string(position) + ")");
    return g_realGetSubMenu(menu, position);
}

BOOL WINAPI LoggedGetCursorPos(LPPOINT point)
{
    g_log.Add("GetCursorPos");
    point->x = 321;
    point->y = 234;
    return TRUE;
}

BOOL WINAPI LoggedSetForegroundWindow(HWND window)
{
    g_log.Add("SetForegroundWindow(" + WindowName(window) + ")");
    return TRUE;
}

BOOL WINAPI LoggedTrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND window, const RECT* rect)
{
    // The menu is not shown: it would wait for the user.
    g_log.Add("TrackPopupMenu(" + MenuName(menu) + "," + Hex(flags) + "," + std::to_string(x) + "," +
              std::to_string(y) + "," + std::to_string(reserved) + "," + WindowName(window) + "," +
              (rect ? "rect" : "null") + ")");
    if (menu) {
        MENUITEMINFOA item = {};
        char text[32] = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE;
        item.dwTypeData = text;
        item.cch = sizeof(text);
        GetMenuItemInfoA(menu, 0, TRUE, &item);
        g_log.Add("  item " + std::to_string(GetMenuItemCount(menu)) + "/" + std::to_string(item.wID) + "/" +
                  Hex(item.fType) + "/" + Hex(item.fState));
    }
    return FALSE;
}

BOOL WINAPI LoggedDestroyMenu(HMENU menu)
{
    g_log.Add("DestroyMenu(" + MenuName(menu) + ")");
    BOOL destroyed = g_realDestroyMenu(menu);
    if (menu == g_loadedMenu)
        g_loadedMenu = nullptr;
    return destroyed;
}

BOOL WINAPI LoggedSetProcessWorkingSetSize(HANDLE process, SIZE_T, SIZE_T)
{
    g_log.Add(process == GetCurrentProcess() ? "SetProcessWorkingSetSize(self)" : "SetProcessWorkingSetSize(other)");
    return TRUE;
}

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&g_app, 0, sizeof(g_app));
        g_app.instance = GetModuleHandleA(nullptr);
        g_app.mainWindow = CreateWindowExA(0, "STATIC", "main", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        other_ = CreateWindowExA(0, "STATIC", "other", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        g_log = CallLog();
        g_menuMissing = false;
        g_loadedMenu = nullptr;
        g_realPostMessageA = patches_.Patch("user32.dll", "PostMessageA", LoggedPostMessageA);
        g_realLoadMenuA = patches_.Patch("user32.dll", "LoadMenuA", LoggedLoadMenuA);
        g_realGetSubMenu = patches_.Patch("user32.dll", "GetSubMenu", LoggedGetSubMenu);
        patches_.Patch("user32.dll", "GetCursorPos", LoggedGetCursorPos);
        patches_.Patch("user32.dll", "SetForegroundWindow", LoggedSetForegroundWindow);
        patches_.Patch("user32.dll", "TrackPopupMenu", LoggedTrackPopupMenu);
        g_realDestroyMenu = patches_.Patch("user32.dll", "DestroyMenu", LoggedDestroyMenu);
        patches_.Patch("kernel32.dll", "SetProcessWorkingSetSize", LoggedSetProcessWorkingSetSize);
        DrainQueue();
    }

    void TearDown() override
    {
        patches_.RestoreAll();
        DrainQueue();
        DestroyWindow(other_);
        DestroyWindow(g_app.mainWindow);
    }

    // Takes every posted message off the thread's queue; returns them as text.
    std::vector<std::string> DrainQueue()
    {
        std::vector<std::string> left;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD))
            if (msg.message < WM_USER || msg.message == WM_TRAYNOTIFY)
                if (msg.message != WM_TIMER && msg.message != WM_PAINT)
                    left.push_back(WindowName(msg.hwnd) + " " + Hex(msg.message) + " " + Hex(msg.wParam));
        return left;
    }

    ImportPatches patches_;
    HWND other_ = nullptr;
};

TEST_F(TrayMenuTest, OnlyButtonReleasesOverTheIconArePostedOn)
{
    struct NotifyCase {
        WPARAM id;
        LPARAM mouse;
        const char* posted; // nullptr: nothing
    };
    const NotifyCase cases[] = {
        {100, WM_LBUTTONUP, "PostMessageA(main,0x202,0x0,0x0)"},
        {100, WM_RBUTTONUP, "PostMessageA(main,0x205,0x0,0x0)"},
        {99, WM_LBUTTONUP, nullptr},
        {99, WM_RBUTTONUP, nullptr},
        {101, WM_RBUTTONUP, nullptr},
        {0x10064, WM_RBUTTONUP, nullptr},
        {100, WM_MOUSEMOVE, nullptr},
        {100, WM_LBUTTONDOWN, nullptr},
        {100, WM_LBUTTONDBLCLK, nullptr},
        {100, WM_RBUTTONDOWN, nullptr},
        {100, WM_RBUTTONDBLCLK, nullptr},
        {100, WM_CONTEXTMENU, nullptr},
        {100, 0x00010205, nullptr},
        {100, 0x00010202, nullptr},
        {100, 0, nullptr},
    };
    for (const NotifyCase& c : cases) {
        g_log.calls.clear();
        g_log.recording = true;
        OnTrayNotify(c.id, c.mouse);
        g_log.recording = false;
        std::vector<std::string> expected;
        if (c.posted)
            expected.push_back(c.posted);
        std::string what = "wParam " + Hex(c.id) + " lParam " + Hex(c.mouse);
        EXPECT_EQ(expected, g_log.calls) << what << "\n" << JoinCalls(g_log.calls);
        std::vector<std::string> queued = DrainQueue();
        EXPECT_EQ(c.posted ? 1u : 0u, queued.size()) << what;
    }
}

TEST_F(TrayMenuTest, LeftReleaseRemovesQueuedReleasesAndCommandsOfTheMainWindowOnly)
{
    HWND main = g_app.mainWindow;
    PostMessageA(main, WM_LBUTTONUP, 0, 0);
    PostMessageA(main, WM_COMMAND, IDM_EXIT, 0);
    PostMessageA(main, WM_RBUTTONUP, 0, 0);
    PostMessageA(other_, WM_LBUTTONUP, 0, 0);
    PostMessageA(main, WM_LBUTTONUP, 1, 2);
    PostMessageA(other_, WM_COMMAND, IDM_EXIT, 0);
    PostMessageA(main, WM_COMMAND, IDM_TRIM_SELF, 0);
    PostMessageA(main, WM_KEYDOWN, 'X', 0);
    OnTrayLeftButtonUp();
    std::vector<std::string> expected = {"main 0x205 0x0", WindowName(other_) + " 0x202 0x0", WindowName(other_) + " 0x111 0xE141",
                                         "main 0x100 0x58"};
    std::vector<std::string> left = DrainQueue();
    EXPECT_EQ(expected, left) << "left in the queue:\n" << JoinCalls(left);
}

TEST_F(TrayMenuTest, LeftReleaseWithNothingQueuedChangesNothing)
{
    OnTrayLeftButtonUp();
    EXPECT_TRUE(DrainQueue().empty());
}

TEST_F(TrayMenuTest, RightReleaseShowsTheMenuAtTheCursorThenEmptiesOwnWorkingSet)
{
    struct MenuCase {
        const char* what;
        bool menuMissing;
        std::vector<std::string> calls;
    };
    const MenuCase cases[] = {
        {"menu loaded",
         false,
         {"GetCursorPos", "LoadMenuA(instance,130)", "GetSubMenu(menu,0)", "SetForegroundWindow(main)",
          "TrackPopupMenu(popup,0x2,321,234,0,main,null)", "  item 1/57665/0x0/0x0", "DestroyMenu(menu)",
          "SetProcessWorkingSetSize(self)"}},
        {"menu cannot be loaded: every step still runs",
         true,
         {"GetCursorPos", "LoadMenuA(instance,130)", "GetSubMenu(null,0)", "SetForegroundWindow(main)",
          "TrackPopupMenu(null,0x2,321,234,0,main,null)", "DestroyMenu(null)", "SetProcessWorkingSetSize(self)"}},
    };
    for (const MenuCase& c : cases) {
        g_menuMissing = c.menuMissing;
        for (int click = 1; click <= 2; click++) {
            g_log.calls.clear();
            g_log.recording = true;
            ShowTrayMenu(g_app.mainWindow);
            g_log.recording = false;
            EXPECT_EQ(c.calls, g_log.calls) << c.what << ", click " << click << "\ngot:\n" << JoinCalls(g_log.calls);
            EXPECT_EQ(nullptr, g_loadedMenu) << c.what << ": the loaded menu outlived the call";
            EXPECT_TRUE(DrainQueue().empty()) << c.what << ": something was posted after the menu";
        }
    }
}

} // namespace
