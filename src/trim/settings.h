// Reading the settings file that lies beside the executable: the watch
// interval and the watch list, read once at start-up.
#pragma once

#include "app/app_state.h"
#include "trim/settings_path.h"

// A settings value handed back by value, so that the caller owns it.
struct SettingText {
    char text[WATCH_ENTRY_SIZE];
};

void GetSettingsPath(char path[SETTINGS_PATH_SIZE]);
DWORD ReadSettingInt(const char* section, const char* key, int defaultValue);
SettingText ReadSettingString(const char* section, const char* key, const char* defaultValue);
void LoadSettings();
