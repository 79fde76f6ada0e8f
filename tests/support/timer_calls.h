// Recording stand-ins for KillTimer and SetTimer, for the tests that watch
// what the program does with its watch timer. The calls go on to the real
// functions unless a failure is asked for.
#pragma once

#include "support/import_patch.h"

// "main" for the program's main window, the handle in hex otherwise.
std::string WindowName(HWND window);

// Points the program's KillTimer and SetTimer at stand-ins that write
// "KillTimer(main,999)" and "SetTimer(main,999,1000,null)" to `log`.
// With `failSetTimer` set, SetTimer answers 0 without setting a timer.
void PatchTimerCalls(ImportPatches& patches, CallLog* log, const bool* failSetTimer = nullptr);
