// Turns the shell's callback for the icon into button messages of the main
// window, and shows the popup menu on a right-button release.
#include "tray/tray_menu.h"

#include "trim/trim_pass.h"

// Only a release of the left or right button over our own icon counts. The
// button is re-posted bare, so it is handled from the message loop rather
// than inside the shell's notification.
void OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    if (wParam != TRAY_ICON_ID)
        return;
    if (lParam == WM_LBUTTONUP)
        PostMessageA(g_app.mainWindow, WM_LBUTTONUP, 0, 0);
    else if (lParam == WM_RBUTTONUP)
        PostMessageA(g_app.mainWindow, WM_RBUTTONUP, 0, 0);
}

// A left click shows nothing: it drops pending left-button releases and
// commands of the main window, so that clicks queued behind a pass or a
// menu do not act late.
void OnTrayLeftButtonUp()
{
    MSG dropped;
    while (PeekMessageA(&dropped, g_app.mainWindow, WM_LBUTTONUP, WM_LBUTTONUP, PM_REMOVE)) {
    }
    while (PeekMessageA(&dropped, g_app.mainWindow, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
    }
}

void ShowTrayMenu(HWND window)
{
    // Where the cursor cannot be read the menu opens at the screen's origin.
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    HMENU menu = LoadMenuA(g_app.instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    HMENU popup = GetSubMenu(menu, 0);
    // Without this the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, NULL);
    DestroyMenu(menu);
    TrimOwnWorkingSet();
}
