// The trimming pass that the watch timer drives, the timer itself, and the
// emptying of the program's own working set.
#pragma once

#include "app/app_state.h"
#include "trim/exe_name.h"

// What a pass asks of each matching process: setting the working-set size
// needs PROCESS_SET_QUOTA, and PROCESS_QUERY_INFORMATION goes with it.
// Asking for every right instead (0x001FFFFF) is refused outright by
// Windows 2000, XP and Server 2003, which do not know the newer rights.
#define TRIM_PROCESS_ACCESS (PROCESS_SET_QUOTA | PROCESS_QUERY_INFORMATION)

void RunTrimPass();
void ArmWatchTimer();
void TrimOwnWorkingSet();
