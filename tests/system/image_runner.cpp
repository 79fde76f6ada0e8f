// Starting, watching and ending the real image.
#include "system/image_runner.h"

#include "support/temp_dir.h"

#include <shellapi.h>

#include <fstream>

const char kTitle[] = "Quillmarsh  ";
const DWORD kWaitMs = 20000;

std::string ImagePath() { return ExecutableDir() + "\\..\\Quillmarsh.exe"; }

unsigned long long ImageBase(const std::string& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
    return nt->OptionalHeader.ImageBase;
}

ImageRun Launch(const std::wstring& exePath, bool traced)
{
    ImageRun run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring environment;
    if (traced) {
        // Wine reads WINEDEBUG from the environment the process starts with.
        wchar_t* block = GetEnvironmentStringsW();
        for (wchar_t* entry = block; *entry; entry += wcslen(entry) + 1)
            if (_wcsnicmp(entry, L"WINEDEBUG=", 10) != 0)
                environment.append(entry).push_back(L'\0');
        FreeEnvironmentStringsW(block);
        environment.append(L"WINEDEBUG=+relay").push_back(L'\0');
        environment.push_back(L'\0');
    }
    std::wstring commandLine = L"\"" + exePath + L"\"";
    std::wstring dir = exePath.substr(0, exePath.find_last_of(L'\\'));
    if (!CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        traced ? &environment[0] : nullptr, dir.c_str(), &startup, &run.info))
        ADD_FAILURE() << "cannot start a program, error " << GetLastError();
    return run;
}

ImageRun Launch(const std::string& exePath, bool traced) { return Launch(Wide(exePath), traced); }

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], (int)wide.size());
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

HWND WaitForWindow(ImageRun& run)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        for (HWND w = FindWindowExA(nullptr, nullptr, nullptr, kTitle); w;
             w = FindWindowExA(nullptr, w, nullptr, kTitle)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == run.info.dwProcessId)
                return run.window = w;
        }
        if (WaitForSingleObject(run.info.hProcess, 20) == WAIT_OBJECT_0)
            break;
    }
    ADD_FAILURE() << "the program's window never appeared";
    return nullptr;
}

DWORD WaitForExit(ImageRun& run, DWORD ms)
{
    WaitForSingleObject(run.info.hProcess, ms);
    DWORD code = 0;
    GetExitCodeProcess(run.info.hProcess, &code);
    return code;
}

void End(ImageRun& run)
{
    if (!run.info.hProcess)
        return;
    if (WaitForSingleObject(run.info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(run.info.hProcess, 99);
        WaitForSingleObject(run.info.hProcess, kWaitMs);
    }
    CloseHandle(run.info.hThread);
    CloseHandle(run.info.hProcess);
    run.info = PROCESS_INFORMATION();
}

std::vector<TracedCall> Trace(const ImageRun& run)
{
    // Every copy of the image has the same preferred base: read it once.
    static const unsigned long long base = ImageBase(ImagePath());
    return ReadTrace(RelayTracePath(), run.info.dwThreadId, base);
}

std::vector<TracedCall> WaitForCalls(const ImageRun& run, const std::string& function, size_t count)
{
    std::vector<TracedCall> found;
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        found = CallsTo(Trace(run), function);
        if (found.size() >= count)
            break;
        Sleep(50);
    }
    return found;
}

bool TrayIconExists(HWND window)
{
    NOTIFYICONDATAA probe = {};
    probe.cbSize = sizeof(probe);
    probe.hWnd = window;
    probe.uID = 100;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

void ImageTest::SetUp()
{
    ASSERT_FALSE(RelayTracePath().empty()) << "run through scripts/wine-run --trace";
    dir_ = MakeTempDir("image");
    exe_ = dir_ + "\\Quillmarsh.exe";
    ASSERT_TRUE(CopyFileA(ImagePath().c_str(), exe_.c_str(), FALSE)) << ImagePath();
}

void ImageTest::TearDown()
{
    for (ImageRun& run : runs_)
        End(run);
    for (Child& child : children_)
        EndChild(child);
    RemoveDir(dir_);
}

ImageRun& ImageTest::Start(const std::wstring& exePath, bool traced)
{
    runs_.push_back(Launch(exePath, traced));
    return runs_.back();
}

ImageRun& ImageTest::Start(const std::string& exePath, bool traced) { return Start(Wide(exePath), traced); }

void ImageTest::Settings(const std::string& text) { WriteFile(dir_ + "\\QuillmarshNT_QX.ini", text); }
