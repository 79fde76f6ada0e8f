// Turning the executable's path into the settings file's path. It needs
// nothing of the platform.
#pragma once

#define SETTINGS_FILE_NAME "QuillmarshNT_QX.ini"
#define SETTINGS_PATH_SIZE 260

// `path` holds what GetModuleFileNameA gave in a buffer of SETTINGS_PATH_SIZE
// characters and `length` is what it returned. Leaves the settings file's
// full path in `path`, or the empty string when no such path can be formed:
// the module path is missing (0), was cut short (the whole buffer), has no
// folder, or leaves no room for the file name.
void BuildSettingsPath(char path[SETTINGS_PATH_SIZE], unsigned long length);
