// The one process-wide state record and the identifiers that the program's
// pieces share: timer, tray icon, callback message, commands and resources.
#pragma once

#include <windows.h>

// Resource identifiers; the resource script includes this header too.
#define IDI_MAIN 107
#define IDS_CLASS_NAME 109
#define IDR_TRAY_MENU 130

// Commands of the main window.
#define IDM_TRIM_SELF 32774
#define IDM_EXIT 57665

#ifndef RC_INVOKED

#define WATCH_TIMER_ID 999
#define TRAY_ICON_ID 100
#define WM_TRAYNOTIFY 1690

#define WATCH_LIST_ENTRIES 10
#define WATCH_ENTRY_SIZE 260

// Title of the hidden main window. Later starts look for it to find a
// running instance, so it must never change: note the two trailing spaces.
#define MAIN_WINDOW_TITLE "Quillmarsh  "

struct AppState {
    HINSTANCE instance;
    HWND mainWindow;
    HICON trayIcon;
    DWORD watchInterval;
    char watchList[WATCH_LIST_ENTRIES][WATCH_ENTRY_SIZE];
};

// Written once during start-up, only read afterwards.
extern AppState g_app;

#endif
