#include "scan/FileReads.h"

bool ReadExactAt(FileRef file, std::int32_t offset, void* buffer, std::uint32_t count)
{
    if (offset < 0) return false;
    if (Sys().SeekTo(file, offset, SeekFromStart) != offset) return false;
    std::int32_t got = Sys().ReadBytes(file, buffer, count);
    return got >= 0 && static_cast<std::uint32_t>(got) == count;
}
