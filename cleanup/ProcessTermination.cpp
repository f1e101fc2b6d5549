#include "cleanup/ProcessTermination.h"

// Placeholder: no process is looked up or terminated yet.
std::int32_t TerminateProcessByImage(const char*)
{
    return 0;
}
