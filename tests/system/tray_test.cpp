// The notification icon and its menu on the real image: the icon while the
// program runs, the popup menu that a right-button release opens, choosing
// and dismissing it, and a left-button release that drops queued commands.
// Saves pictures of the icon and the open menu beside the relay trace.
#include "system/image_runner.h"

#include <algorithm>
#include <fstream>

namespace {

const UINT kTrayNotify = 1690;

// The visible popup menu window, once it exists.
HWND WaitForMenu()
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        HWND menu = FindWindowA("#32768", nullptr);
        if (menu && IsWindowVisible(menu))
            return menu;
        Sleep(20);
    }
    return nullptr;
}

bool MenuIsOpen()
{
    HWND menu = FindWindowA("#32768", nullptr);
    return menu && IsWindowVisible(menu);
}

// Writes the part `area` of the screen as a 24-bit BMP, after giving a
// window that has just appeared time to paint.
void SaveScreen(const std::string& path, RECT area)
{
    Sleep(300);
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    DWORD rowBytes = ((width * 3) + 3) & ~3;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + rowBytes * height;
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write((const char*)&file, sizeof(file));
    out.write((const char*)&info.bmiHeader, sizeof(info.bmiHeader));
    out.write((const char*)bits, rowBytes * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

std::string PicturePath(const char* name)
{
    std::string trace = RelayTracePath();
    return trace.substr(0, trace.find_last_of('\\') + 1) + name;
}

// The names of the traced calls from the first call to `from` on.
std::vector<std::string> NamesFrom(const std::vector<TracedCall>& calls, const std::string& from)
{
    std::vector<std::string> names;
    bool found = false;
    for (const TracedCall& call : calls) {
        found = found || call.function == from;
        if (found)
            names.push_back(Describe(call).substr(0, Describe(call).find('(')));
    }
    return names;
}

class TrayTest : public ImageTest {
protected:
    // Starts the image with a long interval, so that no pass comes between.
    HWND StartTraced()
    {
        Settings("[Setting]\r\nWatchTimer=600000\r\n");
        run_ = &Start(exe_, true);
        HWND window = WaitForWindow(*run_);
        WaitForCalls(*run_, "user32.SetTimer", 1);
        return window;
    }
    ImageRun* run_ = nullptr;
};

TEST_F(TrayTest, RightReleaseOpensTheMenuAtTheCursorAndItsItemEndsTheProgram)
{
    HWND window = StartTraced();
    ASSERT_TRUE(window);
    EXPECT_TRUE(TrayIconExists(window));
    SetCursorPos(300, 200);
    PostMessageA(window, kTrayNotify, 100, WM_RBUTTONUP);
    HWND menu = WaitForMenu();
    ASSERT_TRUE(menu) << "no popup menu appeared";
    RECT rect;
    GetWindowRect(menu, &rect);
    EXPECT_EQ(300, rect.left);
    EXPECT_EQ(200, rect.top);
    RECT around = {rect.left - 20, rect.top - 20, rect.right + 40, rect.bottom + 20};
    SaveScreen(PicturePath("tray-menu-at-cursor.bmp"), around);

    // Down selects the only item, Enter chooses it.
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(0u, WaitForExit(*run_, kWaitMs));
    EXPECT_FALSE(TrayIconExists(window)) << "the icon outlived the program";
    std::vector<TracedCall> calls = Trace(*run_);
    std::vector<TracedCall> tracks = CallsTo(calls, "user32.TrackPopupMenu");
    ASSERT_EQ(1u, tracks.size()) << DescribeAll(calls);
    EXPECT_EQ(HexArg(2), tracks[0].args[1]) << Describe(tracks[0]);
    EXPECT_EQ(HexArg(300), tracks[0].args[2]) << Describe(tracks[0]);
    EXPECT_EQ(HexArg(200), tracks[0].args[3]) << Describe(tracks[0]);
    std::vector<std::string> expected = {"TrackPopupMenu", "DestroyMenu", "SetProcessWorkingSetSize",
                                         "KillTimer", "LoadLibraryA", "Shell_NotifyIconA", "FreeLibrary",
                                         "DestroyWindow", "Sleep", "PostQuitMessage", "Sleep", "ExitProcess"};
    EXPECT_EQ(expected, NamesFrom(calls, "user32.TrackPopupMenu")) << DescribeAll(calls);
}

TEST_F(TrayTest, EscapeDismissesTheMenuAndTheProgramRunsOn)
{
    HWND window = StartTraced();
    ASSERT_TRUE(window);
    SaveScreen(PicturePath("tray-icon.bmp"), RECT{640, 560, 800, 600});
    // Near the icon, as a real right click would be.
    SetCursorPos(786, 554);
    PostMessageA(window, kTrayNotify, 100, WM_RBUTTONUP);
    HWND menu = WaitForMenu();
    ASSERT_TRUE(menu);
    RECT rect;
    GetWindowRect(menu, &rect);
    SaveScreen(PicturePath("tray-menu.bmp"), RECT{std::min(rect.left, 640L) - 10, rect.top - 30, 800, 600});
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    std::vector<TracedCall> trims = WaitForCalls(*run_, "KERNEL32.SetProcessWorkingSetSize", 2);
    EXPECT_FALSE(MenuIsOpen());
    EXPECT_EQ((DWORD)STILL_ACTIVE, WaitForExit(*run_, 0));
    EXPECT_TRUE(TrayIconExists(window));
    std::vector<TracedCall> calls = Trace(*run_);
    std::vector<std::string> expected = {"TrackPopupMenu", "DestroyMenu", "SetProcessWorkingSetSize"};
    EXPECT_EQ(expected, NamesFrom(calls, "user32.TrackPopupMenu")) << DescribeAll(calls);
    EXPECT_EQ(1u, CallsTo(calls, "user32.LoadMenuA").size());
}

TEST_F(TrayTest, LeftReleaseDropsTheCommandQueuedBehindIt)
{
    HWND window = StartTraced();
    ASSERT_TRUE(window);
    // With the program's thread held, both messages are queued before it
    // takes the first.
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, run_->info.dwThreadId);
    ASSERT_TRUE(thread);
    SuspendThread(thread);
    PostMessageA(window, WM_LBUTTONUP, 0, 0);
    PostMessageA(window, WM_COMMAND, 57665, 0);
    ResumeThread(thread);
    CloseHandle(thread);
    // A left click on the icon after them: once its release has been
    // handled too, everything queued before it has been taken.
    PostMessageA(window, kTrayNotify, 100, WM_LBUTTONUP);
    std::vector<TracedCall> peeks = WaitForCalls(*run_, "user32.PeekMessageA", 5);
    EXPECT_EQ(5u, peeks.size()) << DescribeAll(Trace(*run_));
    EXPECT_EQ((DWORD)STILL_ACTIVE, WaitForExit(*run_, 0)) << "the queued IDM_EXIT was carried out";
    EXPECT_TRUE(TrayIconExists(window));
}

} // namespace
