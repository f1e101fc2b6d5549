// The thread's message queue, the program's prompts, plain message boxes
// and waits.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <cstring>

static_assert(sizeof(MSG) <= sizeof(PendingMessage().raw), "a MSG fits in PendingMessage::raw");

bool Win32Platform::TakePendingMessage(PendingMessage& message)
{
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    message.message = msg.message;
    message.wParam = msg.wParam;
    message.lParam = msg.lParam;
    std::memset(message.raw, 0, sizeof message.raw);
    std::memcpy(message.raw, &msg, sizeof msg);
    return true;
}

void Win32Platform::DispatchPending(const PendingMessage& message)
{
    MSG msg;
    std::memcpy(&msg, message.raw, sizeof msg);
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void Win32Platform::NotifyWindow(WindowRef window, std::uint32_t message)
{
    SendMessageA(reinterpret_cast<HWND>(window), message, 0, 0);
}

int Win32Platform::Prompt(const char* text, const char* caption, std::uint32_t flags)
{
    if (promptHandler_ != nullptr) return promptHandler_(text, caption, flags);
    return MessageBoxA(nullptr, text, caption, flags);
}

void Win32Platform::PlainMessage(const char* text, const char* caption)
{
    MessageBoxA(nullptr, text, caption, MB_OK);
}

void Win32Platform::Wait(std::uint32_t milliseconds)
{
    Sleep(milliseconds);
}

std::uint32_t Win32Platform::TickCount()
{
    return GetTickCount();
}
