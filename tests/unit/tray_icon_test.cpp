// The notification-icon record that UpdateTrayIcon hands to the shell, and
// how it loads and releases shell32.dll around each call.
#include "tray/tray_icon.h"

#include "support/import_patch.h"

#include <gtest/gtest.h>

namespace {

CallLog g_log;
bool g_libraryMissing;
bool g_functionMissing;
BOOL g_shellResult;
NOTIFYICONDATAA g_record; // the record the shell last received
DWORD g_operation;
const HMODULE kShell = (HMODULE)0x5E11;

BOOL WINAPI FakeShellNotifyIconA(DWORD operation, PNOTIFYICONDATAA record)
{
    g_log.Add("Shell_NotifyIconA(" + std::to_string(operation) + ")");
    g_operation = operation;
    memcpy(&g_record, record, sizeof(g_record));
    return g_shellResult;
}

HMODULE WINAPI FakeLoadLibraryA(LPCSTR name)
{
    g_log.Add(std::string("LoadLibraryA(") + name + ")");
    return g_libraryMissing ? nullptr : kShell;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    g_log.Add(std::string("GetProcAddress(") + (module == kShell ? "shell32" : Hex((UINT_PTR)module)) + "," +
              name + ")");
    return g_functionMissing ? nullptr : (FARPROC)(void*)FakeShellNotifyIconA;
}

BOOL WINAPI FakeFreeLibrary(HMODULE module)
{
    g_log.Add(std::string("FreeLibrary(") + (module == kShell ? "shell32" : Hex((UINT_PTR)module)) + ")");
    return TRUE;
}

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&g_app, 0, sizeof(g_app));
        g_app.mainWindow = (HWND)0x4242;
        g_log = CallLog();
        g_log.recording = true;
        g_libraryMissing = g_functionMissing = false;
        g_shellResult = TRUE;
        patches_.Patch("kernel32.dll", "LoadLibraryA", FakeLoadLibraryA);
        patches_.Patch("kernel32.dll", "GetProcAddress", FakeGetProcAddress);
        patches_.Patch("kernel32.dll", "FreeLibrary", FakeFreeLibrary);
    }
    void TearDown() override { patches_.RestoreAll(); }

    ImportPatches patches_;
};

const std::vector<std::string> kBalancedCall = {"LoadLibraryA(shell32.dll)", "GetProcAddress(shell32,Shell_NotifyIconA)",
                                                "Shell_NotifyIconA(0)", "FreeLibrary(shell32)"};

// Icons are fake handles: the shell is never really reached here. Each row
// sees the icon that earlier rows placed last.
struct RecordCase {
    const char* what;
    DWORD operation;
    UINT_PTR icon;
    const char* tip;
    UINT flags;
    UINT_PTR recordIcon;
};

TEST_F(TrayIconTest, RecordForEachCombinationOfIconAndTip)
{
    const RecordCase cases[] = {
        {"new icon, empty tip (the add at start-up)", NIM_ADD, 0x100, "", 7, 0x100},
        {"same icon again, empty tip", NIM_ADD, 0x100, "", 5, 0},
        {"same icon, no tip", NIM_MODIFY, 0x100, nullptr, 1, 0},
        {"new icon, no tip", NIM_MODIFY, 0x200, nullptr, 3, 0x200},
        {"null icon, tip", NIM_MODIFY, 0, "tip", 5, 0},
        {"null icon, no tip (the delete at close)", NIM_DELETE, 0, nullptr, 1, 0},
        {"null leaves the last icon as it was", NIM_MODIFY, 0x200, "x", 5, 0},
        {"an earlier icon is new again", NIM_MODIFY, 0x100, "x", 7, 0x100},
    };
    for (const RecordCase& c : cases) {
        memset(&g_record, 0xCC, sizeof(g_record));
        g_log.calls.clear();
        EXPECT_TRUE(UpdateTrayIcon(c.operation, (HICON)c.icon, c.tip)) << c.what;
        std::vector<std::string> calls = kBalancedCall;
        calls[2] = "Shell_NotifyIconA(" + std::to_string(c.operation) + ")";
        EXPECT_EQ(calls, g_log.calls) << c.what << "\n" << JoinCalls(g_log.calls);

        NOTIFYICONDATAA expected = {};
        expected.cbSize = sizeof(NOTIFYICONDATAA);
        expected.hWnd = (HWND)0x4242;
        expected.uID = 100;
        expected.uFlags = c.flags;
        expected.uCallbackMessage = 1690;
        expected.hIcon = (HICON)c.recordIcon;
        if (c.tip)
            lstrcpyA(expected.szTip, c.tip);
        EXPECT_EQ(c.flags, g_record.uFlags) << c.what;
        EXPECT_EQ((HICON)c.recordIcon, g_record.hIcon) << c.what;
        EXPECT_EQ(0, memcmp(&expected, &g_record, sizeof(expected)))
            << c.what << ": some other field of the record is not as expected (cbSize " << g_record.cbSize
            << ", uID " << g_record.uID << ", uCallbackMessage " << g_record.uCallbackMessage << ")";
    }
}

TEST_F(TrayIconTest, FailedAddStillRemembersTheIcon)
{
    g_shellResult = FALSE;
    EXPECT_FALSE(UpdateTrayIcon(NIM_ADD, (HICON)0x300, ""));
    EXPECT_EQ(7u, g_record.uFlags);
    g_shellResult = TRUE;
    EXPECT_TRUE(UpdateTrayIcon(NIM_ADD, (HICON)0x300, ""));
    EXPECT_EQ(5u, g_record.uFlags) << "the icon of the failed add counts as placed";
    EXPECT_EQ(nullptr, g_record.hIcon);
}

TEST_F(TrayIconTest, LongTipIsCutToTheField)
{
    std::string tip(200, 't');
    for (size_t i = 0; i < tip.size(); i++)
        tip[i] = (char)('a' + i % 26);
    EXPECT_TRUE(UpdateTrayIcon(NIM_MODIFY, nullptr, tip.c_str()));
    EXPECT_EQ(tip.substr(0, 127), std::string(g_record.szTip));
    EXPECT_EQ('\0', g_record.szTip[127]);
    EXPECT_EQ(0u, g_record.dwState) << "the field after szTip was written";
}

TEST_F(TrayIconTest, MissingShellFails)
{
    struct FaultCase {
        const char* what;
        bool libraryMissing;
        bool functionMissing;
        std::vector<std::string> calls;
    };
    const FaultCase cases[] = {
        {"no shell32.dll: nothing to release", true, false, {"LoadLibraryA(shell32.dll)"}},
        {"no Shell_NotifyIconA: released once",
         false,
         true,
         {"LoadLibraryA(shell32.dll)", "GetProcAddress(shell32,Shell_NotifyIconA)", "FreeLibrary(shell32)"}},
    };
    for (const FaultCase& c : cases) {
        g_libraryMissing = c.libraryMissing;
        g_functionMissing = c.functionMissing;
        g_log.calls.clear();
        EXPECT_FALSE(UpdateTrayIcon(NIM_ADD, (HICON)0x400, "")) << c.what;
        EXPECT_EQ(c.calls, g_log.calls) << c.what << "\n" << JoinCalls(g_log.calls);
    }
}

} // namespace
