#include "scan/SystemVersion.h"

#include "platform/Platform.h"

int GetPlatformClass()
{
    VersionInfo info = {};
    if (!Sys().QueryVersion(info)) return kPlatformQueryFailed;
    if (info.platformId == 1) return kPlatformWin9x;
    if (info.platformId == 2) return kPlatformNT;
    return kPlatformOther;
}

int GetNtVersionClass()
{
    VersionInfo info = {};
    if (!Sys().QueryVersion(info) || info.platformId != 2) return 0;
    if (info.majorVersion <= 4) return 5;
    if (info.majorVersion == 5) return 6;
    return 0;
}
