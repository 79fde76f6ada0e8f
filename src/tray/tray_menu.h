// Mouse events on the notification icon and the one-item popup menu.
#pragma once

#include "app/app_state.h"

void OnTrayNotify(WPARAM wParam, LPARAM lParam);
void OnTrayLeftButtonUp();
void ShowTrayMenu(HWND window);
