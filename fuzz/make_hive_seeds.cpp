// Writes the hive fuzz targets' seeds (fuzz/corpus/hive_fuzz/ and
// fuzz/corpus/hive_write_fuzz/) with the tests' hive maker: hives shaped
// like a disk's SOFTWARE, SYSTEM and NTUSER.DAT, an empty one, one Windows
// did not close cleanly and one with a value too large to be rewritten.
//
// Usage: make_hive_seeds FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/HiveMaker.h"

namespace {

struct Seed {
    const char* name;
    std::vector<HiveKeyDraft> keys;
    bool dirty;
};

std::vector<Seed> Seeds()
{
    const char* run = "Microsoft\\Windows\\CurrentVersion\\Run";
    return {
        {"empty", {}, false},
        {"software-64-bit",
         {{"Microsoft\\Windows NT\\CurrentVersion",
           {HiveSz("SystemRoot", "C:\\Windows"), HiveSz("CurrentVersion", "6.3"),
            HiveDword("CurrentMajorVersionNumber", 10), HiveDword("CurrentMinorVersionNumber", 0),
            HiveSz("CurrentBuildNumber", "19045")}},
          {"Microsoft\\Windows\\CurrentVersion", {HiveSz("ProgramFilesDir", "C:\\Program Files")}},
          {"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-1001",
           {HiveExpandSz("ProfileImagePath", "%SystemDrive%\\Users\\alice")}},
          {run,
           {HiveSz("evil", "C:\\evil.exe"), HiveExpandSz("expand", "%ProgramFiles%\\x.exe"),
            HiveMultiSz("multi", {"a", "b"}), HiveDword("dword", 1), HiveQword("qword", 2),
            HiveBinary("binary", std::string(64, 'b')), HiveSz("evil", "second of the name"),
            HiveSz("\xC4\x81-name", "\xF0\x9F\x98\x80")}},
          {std::string("Wow6432Node\\") + run, {HiveSz("evil32", "C:\\evil32.exe")}}},
         false},
        {"system",
         {{"Select", {HiveDword("Current", 1)}},
          {"ControlSet001\\Control\\Session Manager\\Environment",
           {HiveExpandSz("TEMP", "%SystemRoot%\\TEMP"), HiveExpandSz("Path", "%TEMP%;%windir%")}},
          {"ControlSet001\\Services\\evil", {HiveExpandSz("ImagePath", "system32\\evil.sys")}}},
         false},
        {"ntuser",
         {{std::string("Software\\") + run, {HiveSz("evil", "%USERPROFILE%\\evil.exe")}},
          {"Environment", {HiveExpandSz("TEMP", "%USERPROFILE%\\AppData\\Local\\Temp")}}},
         false},
        {"not-closed-cleanly", {{run, {HiveSz("evil", "C:\\evil.exe")}}}, true},
        {"large-data",
         {{run, {HiveSz("evil", "C:\\evil.exe"), HiveBinary("blob", std::string(20000, 'b'))}},
          {"Vendor\\Empty", {}}},
         false},
    };
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_hive_seeds FOLDER\n");
        return 2;
    }
    for (const Seed& seed : Seeds()) {
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        std::string error;
        if (!MakeHive(path, seed.keys, error) ||
            (seed.dirty && !SetHiveHeaderField(path, kHiveSequence2Offset, 99, error))) {
            std::fprintf(stderr, "make_hive_seeds: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
