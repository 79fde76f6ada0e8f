// The timer stand-ins.
#include "support/timer_calls.h"

#include "app/app_state.h"

namespace {

CallLog* g_timerLog;
const bool* g_failSetTimer;
decltype(&KillTimer) g_realKillTimer;
decltype(&SetTimer) g_realSetTimer;

BOOL WINAPI LoggedKillTimer(HWND window, UINT_PTR id)
{
    g_timerLog->Add("KillTimer(" + WindowName(window) + "," + std::to_string(id) + ")");
    return g_realKillTimer(window, id);
}

UINT_PTR WINAPI LoggedSetTimer(HWND window, UINT_PTR id, UINT interval, TIMERPROC proc)
{
    g_timerLog->Add("SetTimer(" + WindowName(window) + "," + std::to_string(id) + "," + std::to_string(interval) +
                    "," + (proc ? "proc" : "null") + ")");
    if (g_failSetTimer && *g_failSetTimer)
        return 0;
    return g_realSetTimer(window, id, interval, proc);
}

} // namespace

std::string WindowName(HWND window)
{
    if (!window)
        return "null";
    return window == g_app.mainWindow ? "main" : Hex((UINT_PTR)window);
}

void PatchTimerCalls(ImportPatches& patches, CallLog* log, const bool* failSetTimer)
{
    g_timerLog = log;
    g_failSetTimer = failSetTimer;
    g_realKillTimer = patches.Patch("user32.dll", "KillTimer", LoggedKillTimer);
    g_realSetTimer = patches.Patch("user32.dll", "SetTimer", LoggedSetTimer);
}
