// Name matching for the watch list: a whole-name, byte-wise comparison that
// folds only A to Z, so that it means the same under every code page and
// locale (and folds the second byte of a double-byte character like any
// other byte).
#include "trim/exe_name.h"

static unsigned char FoldAsciiUpper(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

bool ExeNameMatches(const char* entry, const char* exeName)
{
    const unsigned char* a = (const unsigned char*)entry;
    const unsigned char* b = (const unsigned char*)exeName;
    for (;; a++, b++) {
        if (FoldAsciiUpper(*a) != FoldAsciiUpper(*b))
            return false;
        if (*a == '\0')
            return true;
    }
}
