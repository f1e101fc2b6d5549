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
    if (!Sys().QueryVersion(info) || info.platformId != 2) return kNtClassOther;
    if (info.majorVersion <= 4) return kNtClass4;
    if (info.majorVersion == 5) return kNtClass5;
    return kNtClassOther;
}
