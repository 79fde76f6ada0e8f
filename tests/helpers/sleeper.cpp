// A process that only waits, to be watched and trimmed. The tests and the
// demonstration copy it under the executable names they need; it prints its
// process id so that whoever started it can name it in what they show.
#include <windows.h>

#include <cstdio>

int main()
{
    std::printf("%lu\n", GetCurrentProcessId());
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
