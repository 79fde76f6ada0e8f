// Where the settings file is looked for, and what is read from real INI files.
#include "trim/settings.h"

#include "support/import_patch.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The executable path that GetModuleFileNameA reports, or a failure.
struct FakeModule {
    bool fails = false;
    std::string path;
};
FakeModule g_module;
CallLog g_log;

DWORD WINAPI FakeGetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    g_log.Add("GetModuleFileNameA(" + Hex((UINT_PTR)module) + "," + std::to_string(size) + ")");
    if (g_module.fails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    // As Windows Vista and later do: a path that does not fit is cut to
    // size - 1 characters, terminated, and the size is returned.
    DWORD length = (DWORD)g_module.path.size();
    if (length >= size) {
        memcpy(buffer, g_module.path.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, g_module.path.c_str(), length + 1);
    return length;
}

decltype(&GetPrivateProfileIntA) g_realGetInt;
decltype(&GetPrivateProfileStringA) g_realGetString;

UINT WINAPI LoggedGetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR file)
{
    g_log.Add(std::string("GetPrivateProfileIntA(") + section + "," + key + "," + std::to_string(defaultValue) + "," +
              file + ")");
    return g_realGetInt(section, key, defaultValue, file);
}

DWORD WINAPI LoggedGetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR value, DWORD size,
                                            LPCSTR file)
{
    g_log.Add(std::string("GetPrivateProfileStringA(") + section + "," + key + ",\"" + defaultValue + "\"," +
              std::to_string(size) + "," + file + ")");
    return g_realGetString(section, key, defaultValue, value, size, file);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_module = FakeModule();
        g_log = CallLog();
        patches_.Patch("kernel32.dll", "GetModuleFileNameA", FakeGetModuleFileNameA);
        g_realGetInt = patches_.Patch("kernel32.dll", "GetPrivateProfileIntA", LoggedGetPrivateProfileIntA);
        g_realGetString = patches_.Patch("kernel32.dll", "GetPrivateProfileStringA", LoggedGetPrivateProfileStringA);
        memset(&g_app, 0, sizeof(g_app));
    }
    void TearDown() override { patches_.RestoreAll(); }

    ImportPatches patches_;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// A directory part of `length` characters, separator included.
std::string DirOfLength(size_t length) { return "C:\\" + Repeat('d', length - 4) + "\\"; }

struct PathCase {
    const char* what;
    FakeModule module;
    std::string expected; // "" where the readers must fall back to their defaults
};

TEST_F(SettingsTest, SettingsPathFromExecutablePath)
{
    const PathCase cases[] = {
        {"backslashes", {false, "C:\\Tools\\Quillmarsh.exe"}, "C:\\Tools\\QuillmarshNT_QX.ini"},
        {"slashes", {false, "C:/Tools/Quillmarsh.exe"}, "C:/Tools/QuillmarshNT_QX.ini"},
        {"slash last", {false, "C:\\Tools/sub/Quillmarsh.exe"}, "C:\\Tools/sub/QuillmarshNT_QX.ini"},
        {"backslash last", {false, "C:/Tools\\sub\\Quillmarsh.exe"}, "C:/Tools\\sub\\QuillmarshNT_QX.ini"},
        {"another file name", {false, "C:\\Tools\\trimmer.exe"}, "C:\\Tools\\QuillmarshNT_QX.ini"},
        {"file name without dot", {false, "C:\\Tools\\q"}, "C:\\Tools\\QuillmarshNT_QX.ini"},
        {"UNC path", {false, "\\\\server\\share\\Quillmarsh.exe"}, "\\\\server\\share\\QuillmarshNT_QX.ini"},
        {"separator at the end", {false, "C:\\Tools\\"}, "C:\\Tools\\QuillmarshNT_QX.ini"},
        {"no separator", {false, "Quillmarsh.exe"}, ""},
        {"empty path", {false, ""}, ""},
        {"module path unavailable", {true, ""}, ""},
        {"directory part of 239", {false, DirOfLength(239) + "Quillmarsh.exe"}, DirOfLength(239) + "QuillmarshNT_QX.ini"},
        {"directory part of 240", {false, DirOfLength(240) + "q.exe"}, DirOfLength(240) + "QuillmarshNT_QX.ini"},
        {"directory part of 241", {false, DirOfLength(241) + "q.exe"}, ""},
        {"directory part of 255", {false, DirOfLength(255) + "q"}, ""},
        {"module path of 259", {false, DirOfLength(200) + Repeat('n', 59)}, DirOfLength(200) + "QuillmarshNT_QX.ini"},
        {"module path cut short", {false, DirOfLength(200) + Repeat('n', 100)}, ""},
        {"module path cut inside the directory", {false, DirOfLength(300) + "q.exe"}, ""},
    };
    for (const PathCase& c : cases) {
        g_module = c.module;
        char path[SETTINGS_PATH_SIZE + 16];
        memset(path, '#', sizeof(path));
        GetSettingsPath(path);
        EXPECT_EQ(c.expected, std::string(path)) << c.what;
        EXPECT_LE(strlen(path), (size_t)SETTINGS_PATH_SIZE - 1) << c.what;
        EXPECT_EQ(std::string(16, '#'), std::string(path + SETTINGS_PATH_SIZE, 16))
            << c.what << ": written past the 260-character buffer";
    }
}

TEST_F(SettingsTest, UnformablePathGivesDefaultsWithoutReadingAnyFile)
{
    const FakeModule modules[] = {{true, ""}, {false, "Quillmarsh.exe"}, {false, DirOfLength(241) + "q.exe"}};
    for (const FakeModule& module : modules) {
        g_module = module;
        g_log = CallLog();
        g_log.recording = true;
        memset(&g_app, 0x5A, sizeof(g_app));
        LoadSettings();
        EXPECT_EQ(1000u, g_app.watchInterval) << module.path;
        for (int i = 0; i < WATCH_LIST_ENTRIES; i++)
            EXPECT_STREQ("", g_app.watchList[i]) << module.path << " entry " << i;
        for (const std::string& call : g_log.calls)
            EXPECT_EQ(std::string::npos, call.find("GetPrivateProfile")) << module.path << ": " << call;
    }
}

struct IniCase {
    const char* what;
    const char* content; // nullptr: no settings file at all
    DWORD interval;
    std::vector<std::string> entries; // missing trailing entries are empty
};

TEST_F(SettingsTest, ReadsRealSettingsFiles)
{
    const std::string longValue = Repeat('v', 300);
    const std::string longContent = "[Proc]\r\n3=" + longValue + "\r\n";
    const IniCase cases[] = {
        {"no file", nullptr, 1000, {}},
        {"empty file", "", 1000, {}},
        {"Proc without Setting", "[Proc]\r\n0=a.exe\r\n9=z.exe\r\n", 1000,
         {"a.exe", "", "", "", "", "", "", "", "", "z.exe"}},
        {"WatchTimer 0", "[Setting]\r\nWatchTimer=0\r\n", 0, {}},
        {"WatchTimer 250 and all ten keys",
         "[Setting]\r\nWatchTimer=250\r\n[Proc]\r\n0=p0.exe\r\n1=p1.exe\r\n2=p2.exe\r\n3=p3.exe\r\n4=p4.exe\r\n"
         "5=p5.exe\r\n6=p6.exe\r\n7=p7.exe\r\n8=p8.exe\r\n9=p9.exe\r\n",
         250,
         {"p0.exe", "p1.exe", "p2.exe", "p3.exe", "p4.exe", "p5.exe", "p6.exe", "p7.exe", "p8.exe", "p9.exe"}},
        {"keys 0 and 2 without 1", "[Proc]\r\n0=zero.exe\r\n2=two.exe\r\n", 1000, {"zero.exe", "", "two.exe"}},
        {"keys 10 and 01 are not read", "[Proc]\r\n10=ten.exe\r\n01=one.exe\r\n", 1000, {}},
        {"other sections and keys are not read",
         "[Settings]\r\nWatchTimer=5\r\n[Setting]\r\nWatch=7\r\n[proc0]\r\n0=x.exe\r\n", 1000, {}},
        {"section and key names in other case", "[setting]\r\nwatchtimer=42\r\n[PROC]\r\n1=b.exe\r\n", 42,
         {"", "b.exe"}},
        {"empty value", "[Proc]\r\n0=\r\n1=b.exe\r\n", 1000, {"", "b.exe"}},
        {"value with blanks around it", "[Proc]\r\n0 =  spaced.exe  \r\n", 1000, {"spaced.exe"}},
        {"Japanese name", "[Proc]\r\n0=\x83\x81\x83\x82\x92\xa0.exe\r\n", 1000, {"\x83\x81\x83\x82\x92\xa0.exe"}},
        {"300-character value", longContent.c_str(), 1000, {"", "", "", longValue.substr(0, 259)}},
    };
    std::string dir = MakeTempDir("settings");
    g_module.path = dir + "\\Quillmarsh.exe";
    std::string iniPath = dir + "\\QuillmarshNT_QX.ini";
    for (const IniCase& c : cases) {
        DeleteFileA(iniPath.c_str());
        if (c.content)
            WriteFile(iniPath, c.content);
        memset(&g_app, 0x5A, sizeof(g_app));
        LoadSettings();
        EXPECT_EQ(c.interval, g_app.watchInterval) << c.what;
        for (int i = 0; i < WATCH_LIST_ENTRIES; i++) {
            std::string expected = i < (int)c.entries.size() ? c.entries[i] : "";
            EXPECT_EQ(expected, std::string(g_app.watchList[i])) << c.what << ", entry " << i;
        }
    }
    RemoveDir(dir);
}

TEST_F(SettingsTest, EachReadBuildsThePathAndAsksTheProfileFunctions)
{
    std::string dir = MakeTempDir("reads");
    g_module.path = dir + "\\Quillmarsh.exe";
    std::string ini = dir + "\\QuillmarshNT_QX.ini";
    g_log.recording = true;
    LoadSettings();
    std::vector<std::string> expected;
    expected.push_back("GetModuleFileNameA(0x0,260)");
    expected.push_back("GetPrivateProfileIntA(Setting,WatchTimer,1000," + ini + ")");
    for (int i = 0; i < WATCH_LIST_ENTRIES; i++) {
        expected.push_back("GetModuleFileNameA(0x0,260)");
        expected.push_back("GetPrivateProfileStringA(Proc," + std::to_string(i) + ",\"\",260," + ini + ")");
    }
    EXPECT_EQ(expected, g_log.calls) << "expected:\n" << JoinCalls(expected) << "got:\n" << JoinCalls(g_log.calls);
    RemoveDir(dir);
}

} // namespace
