#include <gtest/gtest.h>

#include "platform/fake/FakePlatform.h"
#include "scan/SystemVersion.h"

TEST(SystemVersionTest, PlatformAndNtVersionClasses)
{
    struct Row {
        const char* name;
        bool fails;
        std::uint32_t platformId;
        std::uint32_t major;
        int platformClass;
        int ntClass;
    };
    const Row rows[] = {
        {"query fails", true, 2, 5, 0, 0},
        {"Windows 98", false, 1, 4, 4, 0},
        {"Win32s", false, 0, 3, 1, 0},
        {"NT 3.51", false, 2, 3, 5, 5},
        {"NT 4.0", false, 2, 4, 5, 5},
        {"Windows 2000", false, 2, 5, 5, 6},
        {"Vista", false, 2, 6, 5, 0},
        {"Windows 10", false, 2, 10, 5, 0},
        {"unknown platform", false, 3, 5, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform fake;
        SetPlatform(&fake);
        fake.versionQueryFails = row.fails;
        fake.version.platformId = row.platformId;
        fake.version.majorVersion = row.major;
        EXPECT_EQ(row.platformClass, GetPlatformClass());
        EXPECT_EQ(row.ntClass, GetNtVersionClass());
    }
}
