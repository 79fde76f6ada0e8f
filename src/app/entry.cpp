// The image's entry point. The program needs nothing of the C runtime's
// start-up (no arguments, no constructors, no heap), so the entry calls
// WinMain directly with what the platform gives and ends the process with
// its result.
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

// The system enters here with a stack aligned only to 4 bytes on x86.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup()
{
    STARTUPINFOA startup;
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(WinMain((HINSTANCE)&__ImageBase, NULL, SkipProgramName(GetCommandLineA()), show));
}
