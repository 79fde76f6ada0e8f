// The hidden main window. It owns the watch timer, receives the tray icon's
// callbacks and the menu's commands, and its title marks a running instance.
#include "app/main_window.h"

#include "trim/settings.h"
#include "trim/trim_pass.h"
#include "tray/tray_icon.h"
#include "tray/tray_menu.h"

#ifndef _WIN64
static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA of the 32-bit image");
#endif

void RegisterMainWindowClass(HINSTANCE instance)
{
    char className[CLASS_NAME_SIZE];
    LoadStringA(instance, IDS_CLASS_NAME, className, CLASS_NAME_SIZE);
    WNDCLASSEXA wc;
    wc.cbSize = sizeof(wc);
    wc.style = CS_VREDRAW | CS_HREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = className;
    wc.hIconSm = NULL;
    RegisterClassExA(&wc);
}

// Returns 1 once the program is up, 0 when it must end at once.
int StartInstance(HINSTANCE instance)
{
    // The title alone marks a running instance, whatever its class.
    if (FindWindowA(NULL, MAIN_WINDOW_TITLE))
        return 0;
    g_app.instance = instance;
    LoadSettings();

    char className[CLASS_NAME_SIZE];
    LoadStringA(instance, IDS_CLASS_NAME, className, CLASS_NAME_SIZE);
    g_app.mainWindow = CreateWindowExA(WS_EX_TOOLWINDOW, className, MAIN_WINDOW_TITLE, WS_OVERLAPPED,
                                       -100, -100, 10, 10, NULL, NULL, instance, NULL);
    ShowWindow(g_app.mainWindow, SW_HIDE);
    if (!g_app.mainWindow)
        return 0;

    g_app.trayIcon = (HICON)LoadImageA(g_app.instance, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 16, 16,
                                       LR_DEFAULTCOLOR);
    UpdateTrayIcon(NIM_ADD, g_app.trayIcon, "");
    ArmWatchTimer();
    return 1;
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_TRIM_SELF:
        TrimOwnWorkingSet();
        return 0;
    case IDM_EXIT:
        // The close sequence runs inside this call and ends the process.
        SendMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

static LRESULT OnDestroy()
{
    Sleep(100);
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        return OnDestroy();
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_QUIT: // only when sent: a retrieved WM_QUIT ends the message loop instead
        CloseApplication(window);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_TIMER:
        RunTrimPass(); // whatever the timer id
        return 0;
    case WM_LBUTTONUP:
        OnTrayLeftButtonUp();
        return 0;
    case WM_RBUTTONUP:
        ShowTrayMenu(window);
        return 0;
    case WM_TRAYNOTIFY:
        OnTrayNotify(wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Ends the process with exit code 0; does not return. The two sleeps give the
// shell time to take the icon away before the process is gone.
void CloseApplication(HWND window)
{
    KillTimer(g_app.mainWindow, WATCH_TIMER_ID);
    UpdateTrayIcon(NIM_DELETE, NULL, NULL);
    DestroyWindow(window);
    Sleep(100);
    ExitProcess(0);
}
