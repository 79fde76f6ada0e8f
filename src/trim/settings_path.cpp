// Replaces the executable's file name in its path with the settings file's
// name, never writing past the caller's buffer.
#include "trim/settings_path.h"

void BuildSettingsPath(char path[SETTINGS_PATH_SIZE], unsigned long length)
{
    // A full buffer means the path was cut short (and older systems do not
    // even terminate it then).
    if (length == 0 || length >= SETTINGS_PATH_SIZE) {
        path[0] = '\0';
        return;
    }
    int sep = (int)length - 1;
    while (sep >= 0 && path[sep] != '\\' && path[sep] != '/')
        sep--;
    // The file name and its NUL must fit after the separator.
    const int nameSize = sizeof(SETTINGS_FILE_NAME);
    if (sep < 0 || sep + 1 + nameSize > SETTINGS_PATH_SIZE) {
        path[0] = '\0';
        return;
    }
    const char* name = SETTINGS_FILE_NAME;
    for (int i = 0; i < nameSize; i++)
        path[sep + 1 + i] = name[i];
}
