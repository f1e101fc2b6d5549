#include "Platform.h"

#include <cstdlib>

namespace {
Platform* currentPlatform = nullptr;
}

Platform& Sys()
{
    // Reaching the system before a backend is set is a programming error of
    // the start-up code; stop rather than run the engine on nothing.
    if (currentPlatform == nullptr) std::abort();
    return *currentPlatform;
}

void SetPlatform(Platform* platform)
{
    currentPlatform = platform;
}
