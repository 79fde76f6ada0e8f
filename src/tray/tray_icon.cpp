// Builds the notification-icon record for the main window and hands it to
// the shell. shell32.dll is loaded only for the length of each call, so the
// image does not import it and holds no module between the two calls.
#include "tray/tray_icon.h"


#ifndef _WIN64
static_assert(sizeof(NOTIFYICONDATAA) == 508, "full NOTIFYICONDATAA of the 32-bit image");
#endif

typedef BOOL(WINAPI* ShellNotifyIconProc)(DWORD, PNOTIFYICONDATAA);

// The icon last placed into a record. The shell keeps the icon it was given,
// so the same handle is not handed over twice.
static HICON lastTrayIcon;

BOOL UpdateTrayIcon(DWORD operation, HICON icon, const char* tip)
{
    NOTIFYICONDATAA record = {};
    record.cbSize = sizeof(record);
    record.hWnd = g_app.mainWindow;
    record.uID = TRAY_ICON_ID;
    record.uCallbackMessage = WM_TRAYNOTIFY;
    record.uFlags = NIF_MESSAGE;
    if (icon && icon != lastTrayIcon) {
        record.uFlags |= NIF_ICON;
        record.hIcon = icon;
        lastTrayIcon = icon;
    }
    if (tip) {
        record.uFlags |= NIF_TIP;
        // A longer tip is cut to what the field holds, 127 bytes and the NUL.
        lstrcpynA(record.szTip, tip, sizeof(record.szTip));
    }

    HMODULE shell = LoadLibraryA("shell32.dll");
    if (!shell)
        return FALSE;
    BOOL result = FALSE;
    ShellNotifyIconProc notify = (ShellNotifyIconProc)(void*)GetProcAddress(shell, "Shell_NotifyIconA");
    if (notify)
        result = notify(operation, &record);
    FreeLibrary(shell);
    return result;
}
