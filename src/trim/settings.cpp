// Finds the settings file beside the executable and reads the watch
// interval and the watch list from it into g_app.
#include "trim/settings.h"

// Leaves the settings file's full path in `path`, or the empty string when no
// such path can be formed. The readers then yield their defaults without
// asking the profile functions: given a bare file name those would look in
// the Windows directory, and so read some other file.
void GetSettingsPath(char path[SETTINGS_PATH_SIZE])
{
    BuildSettingsPath(path, GetModuleFileNameA(NULL, path, SETTINGS_PATH_SIZE));
}

DWORD ReadSettingInt(const char* section, const char* key, int defaultValue)
{
    char path[SETTINGS_PATH_SIZE];
    GetSettingsPath(path);
    if (path[0] == '\0')
        return (DWORD)defaultValue;
    return GetPrivateProfileIntA(section, key, defaultValue, path);
}

SettingText ReadSettingString(const char* section, const char* key, const char* defaultValue)
{
    char path[SETTINGS_PATH_SIZE];
    SettingText value;
    GetSettingsPath(path);
    if (path[0] == '\0') {
        lstrcpynA(value.text, defaultValue, sizeof(value.text));
        return value;
    }
    GetPrivateProfileStringA(section, key, defaultValue, value.text, sizeof(value.text), path);
    return value;
}

void LoadSettings()
{
    g_app.watchInterval = ReadSettingInt("Setting", "WatchTimer", 1000);
    for (int i = 0; i < WATCH_LIST_ENTRIES; i++) {
        char key[8];
        wsprintfA(key, "%d", i);
        SettingText value = ReadSettingString("Proc", key, "");
        lstrcpyA(g_app.watchList[i], value.text);
    }
}
