#include "scan/VirusHandler.h"

// Examination of scripts and web pages. No script signatures are compiled
// in yet, so this entry of the handler table finds nothing.
std::int32_t ExamineScriptFile(const char*, const char*)
{
    return 0;
}
