// libFuzzer target: building the settings path from whatever the module
// path buffer holds and whatever length GetModuleFileNameA reported. The
// buffer is exactly 260 bytes on the heap, so any write past it is caught.
#include "trim/settings_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the reported length, 0 to 260 (260: cut short).
    unsigned long length = (data[0] | (data[1] << 8)) % (SETTINGS_PATH_SIZE + 1);
    char* path = (char*)malloc(SETTINGS_PATH_SIZE);
    memset(path, 'x', SETTINGS_PATH_SIZE);
    size_t body = size - 2 < SETTINGS_PATH_SIZE ? size - 2 : SETTINGS_PATH_SIZE;
    memcpy(path, data + 2, body);
    // GetModuleFileNameA writes `length` characters and, when they fit, a NUL;
    // the path itself holds no NUL.
    for (unsigned long i = 0; i < length && i < SETTINGS_PATH_SIZE; i++)
        if (path[i] == '\0')
            path[i] = 'n';
    if (length < SETTINGS_PATH_SIZE)
        path[length] = '\0';
    std::string before(path, length);

    BuildSettingsPath(path, length);

    size_t got = strnlen(path, SETTINGS_PATH_SIZE);
    if (got == SETTINGS_PATH_SIZE)
        abort(); // not terminated inside the buffer
    if (got != 0) {
        std::string result(path, got);
        std::string name = SETTINGS_FILE_NAME;
        size_t folder = before.find_last_of("\\/");
        if (folder == std::string::npos || result != before.substr(0, folder + 1) + name)
            abort(); // anything but the folder of the module and the file name
    }
    free(path);
    return 0;
}
