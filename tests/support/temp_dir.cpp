// Temporary folders and files for the tests.
#include "support/temp_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

std::string MakeTempDir(const char* tag)
{
    static int serial;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (;;) {
        std::string dir = std::string(base) + "qm_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                          std::to_string(++serial);
        if (CreateDirectoryA(dir.c_str(), nullptr))
            return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << dir;
            return dir;
        }
    }
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "cannot write " << path;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(bytes.size(), written) << path;
}

void RemoveDir(const std::string& dir)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((dir + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string ExecutableDir()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/"));
}
