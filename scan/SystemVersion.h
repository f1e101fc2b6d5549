// Which family of the platform the program runs on.
#pragma once

// Platform classes.
const int kPlatformQueryFailed = 0;
const int kPlatformOther = 1;
const int kPlatformWin9x = 4;   // Windows 95/98/ME
const int kPlatformNT = 5;      // Windows NT, 2000, XP and later

// 4 for the Windows 95/98/ME family, 5 for the NT family, 1 for any other
// platform, 0 when the version cannot be queried.
int GetPlatformClass();

// 5 for NT 4.0 and older, 6 for NT 5.x (2000, XP, 2003); 0 for anything else:
// a failed query, a platform that is not NT, or NT 6 and later.
int GetNtVersionClass();
