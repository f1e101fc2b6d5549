// Program entry: the Win32 platform goes behind the engine, the program's
// own prompt answers the engine's questions, and the application object runs.
#include <windows.h>

#include "platform/HeadCachePlatform.h"
#include "platform/win32/Win32Platform.h"
#include "ui/Framework.h"
#include "ui/PromptDlg.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    static Win32Platform platform;
    static HeadCachePlatform files(platform);
    SetPlatform(&files);
    Win32Platform::SetPromptHandler(&ShowPrompt);
    return AfxWinMain(instance);
}
