// The hidden main window: its class, start-up, window procedure and the
// close sequence.
#pragma once

#include "app/app_state.h"

#define CLASS_NAME_SIZE 100

void RegisterMainWindowClass(HINSTANCE instance);
int StartInstance(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void CloseApplication(HWND window);
