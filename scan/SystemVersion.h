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

// NT version classes: the Windows each one stands for.
const int kNtClassOther = 0;  // not NT, the query failed, or NT 6 and later (Vista and later)
const int kNtClass4 = 5;      // NT 3.x and NT 4.0
const int kNtClass5 = 6;      // NT 5.x: Windows 2000, XP, Server 2003 (and XP x64)

// kNtClass4, kNtClass5 or kNtClassOther for the system's version.
int GetNtVersionClass();
