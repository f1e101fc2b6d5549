// The message queue, the result sink's notifications, prompts with their
// queued answers, plain message boxes and waits, all recorded.
#include "platform/fake/FakePlatform.h"

#include <cstring>

void FakePlatform::QueueMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    PendingMessage pending;
    std::memset(&pending, 0, sizeof pending);
    pending.message = message;
    pending.wParam = wParam;
    pending.lParam = lParam;
    messageQueue.push_back(pending);
}

bool FakePlatform::TakePendingMessage(PendingMessage& message)
{
    ++queueLooks;
    if (messageQueue.empty()) return false;
    message = messageQueue.front();
    messageQueue.pop_front();
    return true;
}

void FakePlatform::DispatchPending(const PendingMessage& message)
{
    dispatched.push_back(message);
    if (onDispatch) onDispatch(message);
}

void FakePlatform::NotifyWindow(WindowRef window, std::uint32_t message)
{
    notifications.push_back(Notification{window, message});
    if (onNotify) onNotify(window, message);
}

int FakePlatform::Prompt(const char* text, const char* caption, std::uint32_t flags)
{
    PromptCall call{text ? text : "", caption ? caption : "", flags};
    prompts.push_back(call);
    if (onPrompt) onPrompt(call);
    if (promptAnswers.empty()) return defaultPromptAnswer;
    int answer = promptAnswers.front();
    promptAnswers.pop_front();
    return answer;
}

void FakePlatform::PlainMessage(const char* text, const char* caption)
{
    plainMessages.push_back(PromptCall{text ? text : "", caption ? caption : "", 0});
}

void FakePlatform::Wait(std::uint32_t milliseconds)
{
    waits.push_back(milliseconds);
}

std::uint32_t FakePlatform::TickCount()
{
    const std::uint32_t now = tick;
    tick += tickStep;
    return now;
}
