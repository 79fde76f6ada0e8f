// The comparison of a watch-list entry with a process's executable name.
#include "trim/trim_pass.h"

#include "support/import_patch.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char* entry;
    const char* exeName;
    bool matches;
};

const NameCase kNameCases[] = {
    {"editor.exe", "editor.exe", true},
    {"EDITOR.EXE", "editor.exe", true},
    {"Editor.Exe", "editor.exe", true},
    {"editor.exe", "EDITOR.EXE", true},
    {"editor", "editor.exe", false},           // no extension added
    {"editor.exe", "editor", false},
    {"C:\\apps\\editor.exe", "editor.exe", false}, // no directory stripped
    {"editor.exe ", "editor.exe", false},      // no space stripped
    {" editor.exe", "editor.exe", false},
    {"edit*.exe", "editor.exe", false},        // no wildcards
    {"editor.ex", "editor.exe", false},        // a prefix is not the name
    {"", "", true},
    {"@[`{", "`{@[", false},                    // neighbours of the letters stay apart
    {"@[", "`{", false},
    // Bytes 0x80 to 0xFF are compared unchanged: Latin-1 upper and lower
    // case letters differ.
    {"\xC4" "pfel.exe", "\xE4" "pfel.exe", false},
    {"\xC4" "pfel.exe", "\xC4" "PFEL.EXE", true},
    {"\x80\xFF", "\x80\xFF", true},
    {"\xFF", "\xDF", false},
    {"\xFF", "\x7F", false},
    // The trail byte of a double-byte character is folded like any byte:
    // lead byte 0x83 then "A" matches lead byte 0x83 then "a".
    {"\x83" "A.exe", "\x83" "a.exe", true},
    {"\x83" "a.exe", "\x83" "A.exe", true},
    {"\x83" "A.exe", "\x84" "a.exe", false},
};

TEST(ExeNameMatches, TableOfNames)
{
    for (size_t i = 0; i < sizeof(kNameCases) / sizeof(kNameCases[0]); i++) {
        const NameCase& c = kNameCases[i];
        EXPECT_EQ(c.matches, ExeNameMatches(c.entry, c.exeName))
            << "row " << i << ": entry \"" << c.entry << "\" against \"" << c.exeName << "\"";
    }
}

TEST(ExeNameMatches, EveryByteFoldsOnlyForAsciiLetters)
{
    for (int b = 1; b < 256; b++) {
        for (int other = 1; other < 256; other++) {
            char entry[2] = {(char)b, 0};
            char exe[2] = {(char)other, 0};
            bool letterPair = (b | 0x20) == (other | 0x20) && (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
            bool expected = b == other || letterPair;
            ASSERT_EQ(expected, ExeNameMatches(entry, exe)) << "bytes " << Hex(b) << " and " << Hex(other);
        }
    }
}

} // namespace
