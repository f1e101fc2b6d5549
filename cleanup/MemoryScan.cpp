#include "cleanup/MemoryScan.h"

// Running processes are not examined yet: the session goes straight on to
// the drives.
void ScanMemory()
{
}
