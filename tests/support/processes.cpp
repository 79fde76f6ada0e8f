// Starting and ending the tests' child processes.
#include "support/processes.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>

std::vector<DWORD> SnapshotOrder()
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

Child StartCopy(const std::string& source, const std::string& dir, const std::string& exeName)
{
    Child child;
    child.exeName = exeName;
    std::string path = dir + "\\" + exeName;
    CopyFileA(source.c_str(), path.c_str(), TRUE);
    // The child's output (the sleeper prints its id) goes nowhere.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    std::string commandLine = "\"" + path + "\"";
    BOOL started = CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                                  &startup, &child.info);
    CloseHandle(nul);
    if (!started) {
        ADD_FAILURE() << "cannot start " << path << ", error " << GetLastError();
        return child;
    }
    for (int tries = 0; tries < 500; tries++) {
        std::vector<DWORD> ids = SnapshotOrder();
        if (std::find(ids.begin(), ids.end(), child.info.dwProcessId) != ids.end())
            return child;
        Sleep(10);
    }
    ADD_FAILURE() << exeName << " never showed in a process snapshot";
    return child;
}

void EndChild(Child& child)
{
    if (!child.info.hProcess)
        return;
    TerminateProcess(child.info.hProcess, 0);
    WaitForSingleObject(child.info.hProcess, 5000);
    CloseHandle(child.info.hThread);
    CloseHandle(child.info.hProcess);
    child.info = PROCESS_INFORMATION();
}
