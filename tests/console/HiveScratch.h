// A hive backend over a scratch folder for the hive tests: hives made from
// key lists, their bytes and their meaning read back without the backend.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/TempFolder.h"
#include "fixtures/HiveMaker.h"
#include "platform/hive/HivePlatform.h"
#include "platform/posix/PosixPlatform.h"

// The value `name` of `key` under `root` as `platform` reads it; "-" plus
// the result when it cannot be read.
inline std::string ReadThrough(HivePlatform& platform, KeyRef root, const char* key, const char* name,
                               std::uint32_t view = 0)
{
    KeyRef opened = 0;
    long result = platform.RegistryOpen(root, key, kKeyRead | view, opened);
    if (result != kRegistryOk) return "-" + std::to_string(result);
    char data[512];
    std::uint32_t size = sizeof data;
    result = platform.RegistryQueryValue(opened, name, nullptr, data, &size);
    platform.RegistryClose(opened);
    if (result != kRegistryOk) return "-" + std::to_string(result);
    return std::string(data, size);
}

class HiveScratch : public ::testing::Test {
protected:
    HiveScratch() : hives(posix) {}

    // Makes the hive `name` in the scratch folder; its host path.
    std::string Hive(const std::string& name, const std::vector<HiveKeyDraft>& keys)
    {
        std::string error;
        const std::string path = temp / name;
        EXPECT_TRUE(MakeHive(path, keys, error)) << error;
        return path;
    }

    static std::vector<std::string> Meaning(const std::string& path)
    {
        std::vector<std::string> lines;
        std::string error;
        EXPECT_TRUE(DumpHive(path, lines, error)) << error;
        return lines;
    }

    // The value `name` of `key` under `root` as the backend reads it; "-"
    // plus the result when it cannot be read.
    std::string Read(KeyRef root, const char* key, const char* name, std::uint32_t view = 0)
    {
        return ReadThrough(hives, root, key, name, view);
    }

    long DeleteValue(KeyRef root, const char* key, const char* name, std::uint32_t view = 0)
    {
        KeyRef opened = 0;
        long result = hives.RegistryOpen(root, key, kKeyAllAccess | view, opened);
        if (result != kRegistryOk) return result;
        result = hives.RegistryDeleteValue(opened, name);
        hives.RegistryClose(opened);
        return result;
    }

    TempFolder temp;
    PosixPlatform posix;
    HivePlatform hives;
};

// A REG_SZ as the engine reads it: single bytes with the terminator.
inline std::string EngineText(const std::string& text)
{
    return text + std::string(1, '\0');
}
