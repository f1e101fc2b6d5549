// Program entry. The platform backend is set before anything reaches the
// engine; the main dialog is shown from here once it exists.
#include <windows.h>

#include "platform/win32/Win32Platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    static Win32Platform platform;
    SetPlatform(&platform);
    return 0;
}
