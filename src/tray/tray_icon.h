// The program's icon in the notification area.
#pragma once

#include "app/app_state.h"

#include <shellapi.h>

// Adds or deletes the icon through Shell_NotifyIconA, which is looked up in
// shell32.dll at each call. `icon` and `tip` may be NULL for none. Returns
// the shell's result, or FALSE when the shell function cannot be reached.
BOOL UpdateTrayIcon(DWORD operation, HICON icon, const char* tip);
