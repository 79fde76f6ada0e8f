// The program's entry function: start-up, then the message loop.
#include "app/main_window.h"
#include "trim/trim_pass.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RegisterMainWindowClass(instance);
    if (!StartInstance(instance))
        return 0;

    // Wait until the first message arrives, so that the pages touched during
    // start-up leave the working set only once start-up is truly over.
    MSG msg;
    GetMessageA(&msg, NULL, 0, 0);
    TrimOwnWorkingSet();
    // The first message is handled like any other: it may be the first
    // timer tick, a click on the icon, or a WM_QUIT from another program.
    if (msg.message == WM_QUIT)
        return (int)msg.wParam;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);

    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
