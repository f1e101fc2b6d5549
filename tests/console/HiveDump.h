// The meaning of a hive of a test disk, for a test to compare.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/HiveMaker.h"

// The meaning of the hive at `path` (DumpHive's lines).
inline std::vector<std::string> Dump(const std::string& path)
{
    std::vector<std::string> lines;
    std::string error;
    EXPECT_TRUE(DumpHive(path, lines, error)) << path << ": " << error;
    return lines;
}
