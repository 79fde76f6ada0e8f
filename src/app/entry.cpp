// The image's entry point. The program needs nothing of the C runtime's
// start-up (no arguments, no constructors, no heap), so the entry calls
// WinMain directly and ends the process with its result. The program reads
// neither its command line nor its show command, so it is handed the command
// line after the program's name and SW_SHOWDEFAULT, and nothing more is asked
// of the platform.
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The command line after the program's own name, as WinMain expects it.
static LPSTR SkipProgramName(LPSTR line)
{
    if (*line == '"') {
        line++;
        while (*line && *line != '"')
            line++;
        if (*line == '"')
            line++;
    } else {
        while (*line > ' ')
            line++;
    }
    while (*line && *line <= ' ')
        line++;
    return line;
}

extern "C" void WinMainCRTStartup()
{
    ExitProcess(WinMain((HINSTANCE)&__ImageBase, NULL, SkipProgramName(GetCommandLineA()), SW_SHOWDEFAULT));
}
