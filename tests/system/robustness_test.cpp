// What users and the system may throw at the real image: broken settings
// files, awkward folders, a missing shell, ten thousand passes in a row and a
// flood of messages. In every case the program keeps running or ends
// cleanly, reads only its own settings file and writes nothing.
#include "system/image_runner.h"

#include "support/temp_dir.h"

#include <winternl.h>

#include <algorithm>
#include <random>
#include <set>

namespace {

// Lets the programs started while it lives trace only `calls`: a long run
// traced in full would fill the trace with hundreds of thousands of lines.
class ScopedRelayInclude {
public:
    explicit ScopedRelayInclude(const char* calls)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr);
        DWORD size = sizeof(saved_);
        RegQueryValueExA(key_, "RelayInclude", nullptr, nullptr, (BYTE*)saved_, &size);
        RegSetValueExA(key_, "RelayInclude", 0, REG_SZ, (const BYTE*)calls, (DWORD)strlen(calls) + 1);
    }
    ~ScopedRelayInclude()
    {
        RegSetValueExA(key_, "RelayInclude", 0, REG_SZ, (const BYTE*)saved_, (DWORD)strlen(saved_) + 1);
        RegCloseKey(key_);
    }

private:
    HKEY key_ = nullptr;
    char saved_[4096] = {};
};

// Every file in `dir` with its size and last write time.
std::set<std::string> Listing(const std::string& dir)
{
    std::set<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        files.insert(std::string(found.cFileName) + " " + std::to_string(found.nFileSizeLow) + " " +
                     std::to_string(found.ftLastWriteTime.dwLowDateTime));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

// The handles that process `pid` holds, counted in the system's handle table.
ULONG HandleCount(DWORD pid)
{
    struct Entry {
        ULONG pid;
        UCHAR type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    typedef NTSTATUS(NTAPI * QueryProc)(ULONG, PVOID, ULONG, PULONG);
    auto query = (QueryProc)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    std::vector<char> buffer(1 << 20);
    ULONG length = 0;
    const ULONG kSystemHandleInformation = 16;
    while (query(kSystemHandleInformation, buffer.data(), (ULONG)buffer.size(), &length) == (NTSTATUS)0xC0000004)
        buffer.resize(buffer.size() * 2);
    ULONG count = *(ULONG*)buffer.data();
    auto* entries = (Entry*)(buffer.data() + sizeof(ULONG_PTR));
    ULONG mine = 0;
    for (ULONG i = 0; i < count; i++)
        mine += entries[i].pid == pid;
    return mine;
}

// The lowest and highest of several handle counts of `pid`: with the timer at
// 0 the program is nearly always inside a pass, which holds the snapshot and
// at times one process open besides what it holds for good.
std::pair<ULONG, ULONG> HandleRange(DWORD pid)
{
    ULONG low = ~0u, high = 0;
    for (int i = 0; i < 20; i++) {
        ULONG count = HandleCount(pid);
        low = std::min(low, count);
        high = std::max(high, count);
        Sleep(3);
    }
    return {low, high};
}

bool Answers(HWND window)
{
    DWORD_PTR ignored;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &ignored) != 0;
}

class RobustnessTest : public ImageTest {};

// The settings file that each profile read names: the text after the last
// space of the last argument, as the trace quotes it.
std::string FileRead(const TracedCall& call)
{
    const std::string& last = call.args.back();
    return last.substr(last.find('"') + 1);
}

TEST_F(RobustnessTest, BrokenSettingsFilesNeitherStopNorSpreadTheProgram)
{
    std::mt19937 random(20261211);
    std::string noise(4096, '\0');
    for (char& c : noise)
        c = (char)(random() & 0xFF);
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[Setting]\r\nWatchTimer=1500\r\n"))
        utf16 += std::string(1, c) + '\0';
    struct BadFile {
        const char* what;
        std::string bytes;
    };
    const BadFile cases[] = {
        {"random bytes", noise},
        {"a 64 KB line", "[Setting]\r\nWatchTimer=" + std::string(65536, '7') + "\r\n"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF[Setting]\r\nWatchTimer=1500\r\n"},
        {"UTF-16 file", utf16},
        {"WatchTimer negative", "[Setting]\r\nWatchTimer=-5\r\n"},
        {"WatchTimer not a number", "[Setting]\r\nWatchTimer=soon\r\n"},
        {"WatchTimer 4294967295", "[Setting]\r\nWatchTimer=4294967295\r\n"},
        {"WatchTimer 99999999999", "[Setting]\r\nWatchTimer=99999999999\r\n"},
        {"duplicate sections and keys",
         "[Setting]\r\nWatchTimer=1500\r\n[Proc]\r\n0=a.exe\r\n[Setting]\r\nWatchTimer=2500\r\n[Proc]\r\n0=b.exe\r\n"},
        {"LF line ends", "[Setting]\nWatchTimer=1500\n[Proc]\n0=a.exe\n"},
        {"CR line ends", "[Setting]\rWatchTimer=1500\r[Proc]\r0=a.exe\r"},
        {"no final newline", "[Setting]\r\nWatchTimer=1500"},
        {"300-character Proc value", "[Proc]\r\n0=" + std::string(300, 'p') + "\r\n"},
        {"empty Proc values", "[Proc]\r\n0=\r\n1=\r\n9=\r\n"},
    };
    std::string ini = dir_ + "\\QuillmarshNT_QX.ini";
    for (const BadFile& c : cases) {
        WriteFile(ini, c.bytes);
        std::set<std::string> before = Listing(dir_);
        ImageRun& run = Start(exe_, true);
        HWND window = WaitForWindow(run);
        ASSERT_TRUE(window) << c.what;
        std::vector<TracedCall> timers = WaitForCalls(run, "user32.SetTimer", 1);
        ASSERT_FALSE(timers.empty()) << c.what;
        EXPECT_TRUE(Answers(window)) << c.what;
        std::vector<TracedCall> calls = Trace(run);
        size_t reads = 0;
        for (const TracedCall& call : calls) {
            if (call.function.find("GetPrivateProfile") == std::string::npos)
                continue;
            reads++;
            std::string file = FileRead(call);
            EXPECT_NE(std::string::npos, file.find(dir_.substr(dir_.find_last_of('\\') + 1)))
                << c.what << ": read " << file;
            EXPECT_NE(std::string::npos, file.find("QuillmarshNT_QX.ini")) << c.what << ": read " << file;
        }
        EXPECT_EQ(11u, reads) << c.what;
        PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, WaitForExit(run, kWaitMs)) << c.what;
        EXPECT_EQ(before, Listing(dir_)) << c.what << ": the folder changed";
        std::printf("[   INFO   ] %-28s interval handed to SetTimer: %lu\n", c.what,
                    std::strtoul(timers[0].args[2].c_str(), nullptr, 16));
    }
}

// Makes a folder whose full path, with its final separator, is `length`
// characters long, inside `base`; returns it without the separator.
std::wstring FolderOfLength(const std::wstring& base, size_t length, wchar_t fill)
{
    std::wstring dir = base;
    while (dir.size() + 1 < length) {
        size_t part = std::min<size_t>(120, length - dir.size() - 2);
        dir += L"\\" + std::wstring(part, fill);
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    return dir;
}

TEST_F(RobustnessTest, FoldersNearAndPastThePathLimit)
{
    // A program whose own path reaches MAX_PATH cannot be started at all,
    // so the longest folder tried holds an image named "q.exe": 254
    // characters and "q.exe" make a path of 259.
    struct FolderCase {
        const char* what;
        size_t length; // the folder's path with its final separator; 0: `name` as it is
        const wchar_t* name;
        const wchar_t* exeName;
        bool readsSettings;
    };
    const FolderCase cases[] = {
        {"folder of 239", 239, nullptr, L"Quillmarsh.exe", true},
        {"folder of 240", 240, nullptr, L"Quillmarsh.exe", true},
        {"folder of 241", 241, nullptr, L"Quillmarsh.exe", false},
        {"folder of 254", 254, nullptr, L"q.exe", false},
        {"Latin-1 folder name", 0, L"M\u00FCller \u00C9t\u00E9", L"Quillmarsh.exe", true},
        {"Japanese folder name", 0, L"\u30E1\u30E2\u30EA\u6574\u7406", L"Quillmarsh.exe", false},
    };
    std::wstring base = Wide(dir_);
    int serial = 0;
    for (const FolderCase& c : cases) {
        std::wstring folder = base + L"\\" + std::to_wstring(++serial);
        CreateDirectoryW(folder.c_str(), nullptr);
        folder = c.name ? folder + L"\\" + c.name : FolderOfLength(folder, c.length, L'd');
        CreateDirectoryW(folder.c_str(), nullptr);
        if (c.length)
            ASSERT_EQ(c.length, folder.size() + 1) << c.what;
        std::wstring exe = folder + L"\\" + c.exeName;
        ASSERT_TRUE(CopyFileW(Wide(exe_).c_str(), exe.c_str(), FALSE)) << c.what;
        HANDLE ini = CreateFileW((folder + L"\\QuillmarshNT_QX.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        ::WriteFile(ini, "[Setting]\r\nWatchTimer=4321\r\n", 28, &written, nullptr);
        CloseHandle(ini);

        ImageRun& run = Start(exe, true);
        HWND window = WaitForWindow(run);
        ASSERT_TRUE(window) << c.what;
        std::vector<TracedCall> timers = WaitForCalls(run, "user32.SetTimer", 1);
        ASSERT_FALSE(timers.empty()) << c.what;
        EXPECT_EQ(HexArg(c.readsSettings ? 4321 : 1000), timers[0].args[2]) << c.what;
        std::vector<TracedCall> calls = Trace(run);
        size_t reads = CallsTo(calls, "KERNEL32.GetPrivateProfileIntA").size() +
                       CallsTo(calls, "KERNEL32.GetPrivateProfileStringA").size();
        if (c.length > 240)
            EXPECT_EQ(0u, reads) << c.what << ": no settings path fits, so no file may be read";
        PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, WaitForExit(run, kWaitMs)) << c.what;
    }
}

TEST_F(RobustnessTest, WithoutShell32ItRunsAndTrimsWithoutAnIcon)
{
    children_.push_back(StartCopy(ExecutableDir() + "\\sleeper.exe", dir_, "qmwatched.exe"));
    Settings("[Setting]\r\nWatchTimer=200\r\n[Proc]\r\n0=qmwatched.exe\r\n");
    // Wine's own way of taking a DLL away from one program: an empty
    // override for its executable's name.
    std::string exe = dir_ + "\\NoShell.exe";
    ASSERT_TRUE(CopyFileA(exe_.c_str(), exe.c_str(), FALSE));
    HKEY key;
    const char* path = "Software\\Wine\\AppDefaults\\NoShell.exe\\DllOverrides";
    RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "shell32", 0, REG_SZ, (const BYTE*)"", 1);
    RegCloseKey(key);
    ImageRun& run = Start(exe, true);
    HWND window = WaitForWindow(run);
    RegDeleteKeyA(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(window);
    std::vector<TracedCall> opens = WaitForCalls(run, "KERNEL32.OpenProcess", 2);
    EXPECT_GE(opens.size(), 2u);
    EXPECT_FALSE(TrayIconExists(window));
    std::vector<TracedCall> calls = Trace(run);
    EXPECT_EQ(1u, CallsTo(calls, "KERNEL32.LoadLibraryA").size()) << DescribeAll(calls);
    EXPECT_TRUE(CallsTo(calls, "shell32.Shell_NotifyIconA").empty()) << DescribeAll(calls);
    EXPECT_TRUE(CallsTo(calls, "KERNEL32.FreeLibrary").empty()) << "released a library it never had";
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, WaitForExit(run, kWaitMs));
    EXPECT_EQ(2u, CallsTo(Trace(run), "KERNEL32.LoadLibraryA").size()) << "the close tries the shell again";
}

TEST_F(RobustnessTest, TenThousandPassesLeaveNoHandleBehind)
{
    const size_t kPasses = 10000;
    for (const char* name : {"qmsoak1.exe", "qmsoak2.exe", "qmsoak2.exe"})
        children_.push_back(StartCopy(ExecutableDir() + "\\sleeper.exe", dir_, name));
    Settings("[Setting]\r\nWatchTimer=0\r\n[Proc]\r\n0=qmsoak1.exe\r\n1=QMSOAK2.EXE\r\n2=qmsoak1.exe\r\n");
    ScopedRelayInclude only("user32.KillTimer");
    ImageRun& run = Start(exe_, true);
    HWND window = WaitForWindow(run);
    ASSERT_TRUE(window);
    ASSERT_FALSE(WaitForCalls(run, "user32.KillTimer", 1).empty());
    std::pair<ULONG, ULONG> first = HandleRange(run.info.dwProcessId);
    size_t passes = 0;
    for (int checks = 0; checks < 600 && passes < kPasses; checks++) {
        Sleep(1000);
        ASSERT_TRUE(Answers(window)) << "stopped answering after " << passes << " passes";
        passes = CallsTo(Trace(run), "user32.KillTimer").size();
    }
    ASSERT_GE(passes, kPasses);
    std::pair<ULONG, ULONG> last = HandleRange(run.info.dwProcessId);
    // A pass holds at most two handles of its own, so the counts may move by
    // two, and no more, however many passes have run.
    EXPECT_LE(last.second, first.first + 2) << "handles grew over " << passes << " passes";
    EXPECT_LE(last.first, first.second) << "handles grew over " << passes << " passes";
    EXPECT_LE(first.second - first.first, 2u);
    std::printf("[   INFO   ] %zu passes; handles %lu to %lu after the first pass, %lu to %lu after the last\n",
                passes, first.first, first.second, last.first, last.second);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, WaitForExit(run, kWaitMs));
}

TEST_F(RobustnessTest, FloodOfMessagesToEveryRowDrains)
{
    Settings("[Setting]\r\nWatchTimer=600000\r\n");
    ScopedRelayInclude only("user32.KillTimer");
    ImageRun& run = Start(exe_, true);
    HWND window = WaitForWindow(run);
    ASSERT_TRUE(window);
    WaitForCalls(run, "user32.SetTimer", 1);
    // Half tray notifications, half every other row that neither closes the
    // program nor waits for the user, all with random parameters.
    std::mt19937 random(1211);
    const UINT rows[] = {WM_TIMER, WM_COMMAND, WM_LBUTTONUP, WM_NULL, WM_USER + 7, WM_MOUSEMOVE};
    size_t timers = 0;
    for (int i = 0; i < 10000; i++) {
        UINT message = i % 2 ? rows[random() % (sizeof(rows) / sizeof(rows[0]))] : 1690;
        WPARAM wParam = random();
        // A WM_TIMER's lParam names a timer procedure: the system drops one
        // whose procedure was never set, so ours carry none.
        LPARAM lParam = message == WM_TIMER ? 0 : random();
        if (message == 1690 && i % 4 == 0) {
            wParam = 100; // over the icon, with a mouse message
            lParam = WM_MOUSEFIRST + random() % 14;
        }
        if (message == 1690 && wParam == 100 && lParam == WM_RBUTTONUP)
            lParam = WM_RBUTTONDOWN; // a right click would open the menu and wait
        if (message == WM_COMMAND && LOWORD(wParam) == 57665)
            wParam = 1;
        timers += message == WM_TIMER;
        for (int tries = 0; !PostMessageA(window, message, wParam, lParam) && tries < 1000; tries++)
            Sleep(1);
    }
    // Each WM_TIMER runs a pass, which stops the timer first; nothing drops
    // them from the queue. Once the pass of the last one has run, all that
    // was posted before it has been handled.
    PostMessageA(window, WM_TIMER, 7, 0);
    timers++;
    std::vector<TracedCall> passes = WaitForCalls(run, "user32.KillTimer", timers);
    EXPECT_EQ(timers, passes.size());
    EXPECT_EQ((DWORD)STILL_ACTIVE, WaitForExit(run, 0));
    EXPECT_TRUE(Answers(window));
    EXPECT_TRUE(TrayIconExists(window));
    std::printf("[   INFO   ] 10001 messages posted, %zu of them WM_TIMER, all handled\n", timers);
}

} // namespace
