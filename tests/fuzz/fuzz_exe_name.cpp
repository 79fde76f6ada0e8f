// libFuzzer target: the watch-list name comparison against a plain
// reference, on arbitrary byte strings.
#include "trim/exe_name.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

static int Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

static bool Reference(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (Fold((unsigned char)a[i]) != Fold((unsigned char)b[i]))
            return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Two strings, split at the first NUL; each gets a buffer of its own
    // length so that reading past the end is caught.
    std::string bytes((const char*)data, size);
    size_t split = bytes.find('\0');
    std::string first = bytes.substr(0, split);
    std::string second = split == std::string::npos ? "" : bytes.substr(split + 1);
    second = second.substr(0, second.find('\0'));
    char* a = (char*)malloc(first.size() + 1);
    char* b = (char*)malloc(second.size() + 1);
    memcpy(a, first.c_str(), first.size() + 1);
    memcpy(b, second.c_str(), second.size() + 1);
    bool got = ExeNameMatches(a, b);
    if (got != Reference(first, second) || got != ExeNameMatches(b, a))
        abort();
    free(a);
    free(b);
    return 0;
}
