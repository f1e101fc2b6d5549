// Construction of the Win32 backend and the state it keeps: the program's
// prompt handler and psapi.dll, loaded once on first use.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

Win32Platform::PromptHandler Win32Platform::promptHandler_ = nullptr;

void Win32Platform::SetPromptHandler(PromptHandler handler)
{
    promptHandler_ = handler;
}

Win32Platform::Win32Platform() : psapi_(nullptr), psapiTried_(false) {}

Win32Platform::~Win32Platform()
{
    if (psapi_ != nullptr) FreeLibrary(static_cast<HMODULE>(psapi_));
}

void* Win32Platform::Psapi()
{
    // psapi.dll is not part of Windows 95/98/ME and is an add-on on NT 4.0:
    // one attempt per backend, whatever it gives.
    if (!psapiTried_) {
        psapiTried_ = true;
        psapi_ = LoadLibraryA("psapi.dll");
    }
    return psapi_;
}
