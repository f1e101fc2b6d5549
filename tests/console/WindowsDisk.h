// A Windows disk made in a scratch folder, as a rescue system would mount
// it: a 64-bit Windows with its names in whatever case the disk keeps them
// ("windows/system32/Config/software"), the machine's SOFTWARE and SYSTEM
// hives, two users with their NTUSER.DAT, infected files that start from
// the registry, the start-up entries the worm rules remove, and clean
// look-alikes of each that must stay.
//
// Only ever made in a scratch folder: the scanner deletes what it detects.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "console/TempFolder.h"
#include "fixtures/HiveMaker.h"
#include "fixtures/InfectedFiles.h"
#include "scan/SignatureRecord.h"

namespace windowsdisk {

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kMachineRun[] = "Microsoft\\Windows\\CurrentVersion\\Run";
const char kMachineRun32[] = "Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kProfileList[] = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const char kAliceSid[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char kBobSid[] = "S-1-5-21-1004336348-1177238915-682003330-1002";
const char kCarolSid[] = "S-1-5-21-1004336348-1177238915-682003330-1003";

// Where things are on the disk, relative to its root, in the disk's case.
const char kSoftware[] = "windows/system32/Config/software";
const char kSystem[] = "windows/system32/Config/SYSTEM";
const char kAliceHive[] = "Users/Alice/NTUSER.DAT";
const char kBobHive[] = "Users/BOB/ntuser.dat";
// Started by the machine's Run key through %SystemRoot%, and by bob's.
const char kEvil[] = "windows/system32/evil.exe";
// Started by the 32-bit view's Run key.
const char kHelper[] = "Program Files (x86)/Tool/helper.exe";
// A W32/Bagle archive in alice's downloads, started by her Run key.
const char kPhotos[] = "Users/Alice/Downloads/photos.zip";
// Where the dialog of the disk's Windows keeps its run log.
const char kDiskLog[] = "programdata/Quellor/Quellor.log";

const char kPeThreat[] = "W32/Murkel.A.Trojan";
const char kZipThreat[] = "W32/Bagle.C.Worm";

inline std::string InfectedPe()
{
    return infected::SignaturePe(SignatureTable[2]);
}
inline std::string InfectedZip()
{
    return infected::WormZip(ArchiveWormTable[0], 12000);
}

// What each hive holds. Values named "keep..." must survive every run.
inline std::vector<HiveKeyDraft> SoftwareKeys(bool sixtyFourBit)
{
    std::vector<HiveKeyDraft> keys = {
        {"Microsoft\\Windows NT\\CurrentVersion",
         {HiveSz("SystemRoot", "C:\\WINDOWS"), HiveSz("CurrentVersion", "6.1"), HiveSz("CurrentBuildNumber", "7601")}},
        {"Microsoft\\Windows\\CurrentVersion", {HiveSz("ProgramFilesDir", "C:\\Program Files")}},
        {"Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
         {HiveSz("Common AppData", "C:\\ProgramData")}},
        {std::string(kProfileList) + "S-1-5-18",
         {HiveExpandSz("ProfileImagePath", "%systemroot%\\system32\\config\\systemprofile")}},
        {std::string(kProfileList) + kAliceSid, {HiveExpandSz("ProfileImagePath", "C:\\Users\\alice")}},
        {std::string(kProfileList) + kBobSid, {HiveExpandSz("ProfileImagePath", "%SystemDrive%\\Users\\Bob")}},
        // Carol's folder is on the disk, her hive is not.
        {std::string(kProfileList) + kCarolSid, {HiveExpandSz("ProfileImagePath", "C:\\Users\\carol")}},
        {kMachineRun,
         {HiveExpandSz("EvilStart", "%SystemRoot%\\System32\\evil.exe /start"),
          HiveSz("winshost.exe", "%sysdir%\\winshost.exe"),
          HiveSz("keepBackup", "C:\\Windows\\System32\\evil.exe.bak"),
          HiveSz("keepAudio", "C:\\Windows\\System32\\audio.exe")}},
        {"Vendor\\Tool", {HiveDword("keepInstalled", 1), HiveBinary("keepBlob", std::string("\x01\x00\xff", 3))}},
    };
    if (sixtyFourBit) {
        keys.push_back({kMachineRun32,
                        {HiveSz("Helper", "\"C:\\Program Files (x86)\\Tool\\helper.exe\" -quiet"),
                         HiveSz("win_upd2.exe", "C:\\WINDOWS\\system32\\windirect.exe"),
                         HiveSz("keepTool", "C:\\Program Files (x86)\\Tool\\tool.exe")}});
    }
    return keys;
}

inline std::vector<HiveKeyDraft> SystemKeys()
{
    return {
        {"Select", {HiveDword("Current", 1), HiveDword("Default", 1)}},
        {"ControlSet001\\Control\\Session Manager\\Environment", {HiveExpandSz("TEMP", "%SystemRoot%\\TEMP")}},
        {"ControlSet001\\Services\\Tool", {HiveExpandSz("ImagePath", "%SystemRoot%\\System32\\evil.exe")}},
    };
}

inline std::vector<HiveKeyDraft> AliceKeys()
{
    return {
        {kRun,
         {HiveSz("d3dupdate.exe", "C:\\WINDOWS\\system32\\bbeagle.exe"),
          HiveSz("Photos", "C:\\users\\alice\\downloads\\photos.zip"),
          HiveSz("keepLater", "C:\\Tools\\launch.exe C:\\Windows\\System32\\evil.exe"),
          HiveSz("keepClean", "C:\\Program Files\\Tool\\tool.exe")}},
        {"Software\\Vendor", {HiveSz("keepTheme", "blue")}},
    };
}

inline std::vector<HiveKeyDraft> BobKeys()
{
    return {
        {kRun,
         {HiveSz("rate.exe", "c:\\windows\\system32\\i1ru54n4.exe"),
          HiveExpandSz("Start", "%SystemRoot%\\system32\\EVIL.EXE"),
          HiveSz("au.exe", "C:\\Program Files\\au.exe")}},
        {"Software\\winword", {HiveSz("Data", "x")}},
        {"Software\\DateTime4", {HiveSz("keepData", "y")}},
    };
}

// One trace the cleaning removes: a value, or a key with its values when
// `value` is null.
struct Trace {
    const char* hive;  // relative path of the hive
    const char* key;   // from the hive's root
    const char* value;
};

inline const std::vector<Trace>& RemovedTraces()
{
    static const std::vector<Trace> traces = {
        {kSoftware, kMachineRun, "EvilStart"},      // starts evil.exe through %SystemRoot%
        {kSoftware, kMachineRun, "winshost.exe"},   // rule 32, "sysdir"
        {kSoftware, kMachineRun32, "Helper"},       // starts helper.exe, 32-bit view
        {kSoftware, kMachineRun32, "win_upd2.exe"}, // rule 21 in the 32-bit view
        {kAliceHive, kRun, "d3dupdate.exe"},        // rule 1
        {kAliceHive, kRun, "Photos"},               // starts photos.zip
        {kBobHive, kRun, "rate.exe"},               // rule 5...
        {kBobHive, "Software\\winword", nullptr},   // ...and its key
        {kBobHive, kRun, "Start"},                  // starts evil.exe through %SystemRoot%
    };
    return traces;
}

// The registry lines of one full cleaning, sorted.
inline std::vector<std::string> RegistryLines()
{
    std::vector<std::string> lines = {
        "System Registry     W32/Bagle.A.Worm removed",  "System Registry     W32/Bagle.F.Worm removed",
        "System Registry     W32/Bagle.F.Worm removed",  "System Registry     W32/Bagle.Aq.Worm removed",
        "System Registry     W32/Bagle.Be.Worm removed", "System Registry     W32/MurkEl.Trojan removed",
        "System Registry     W32/MurkEl.Trojan removed", "System Registry     W32/MurkEl.Trojan removed",
        "System Registry     W32/MurkEl.Trojan removed",
    };
    std::sort(lines.begin(), lines.end());
    return lines;
}

// `lines` (a hive's dump) without the traces the cleaning removes from
// the hive `hive`.
inline std::vector<std::string> WithoutTraces(std::vector<std::string> lines, const std::string& hive)
{
    for (const Trace& trace : RemovedTraces()) {
        if (hive != trace.hive) continue;
        const std::string key = std::string(trace.key);
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&](const std::string& line) {
                                       if (!trace.value) return line == "K " + key || line.rfind("V " + key + " | ", 0) == 0;
                                       return line.rfind("V " + key + " | " + trace.value + " | ", 0) == 0;
                                   }),
                    lines.end());
    }
    return lines;
}

// Every regular file below `root` and its bytes.
inline std::map<std::string, std::string> FilesBelow(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files[entry.path().string().substr(root.size() + 1)] = ReadFileText(entry.path());
    }
    return files;
}

struct Disk {
    std::string root;
    std::string Path(const std::string& relative) const { return root + "/" + relative; }
};

// Makes the disk in `root` (which must not exist yet or be empty).
inline Disk MakeDisk(const std::string& root, bool sixtyFourBit = true)
{
    Disk disk{root};
    std::filesystem::create_directories(disk.Path("windows/system32/Config"));
    std::filesystem::create_directories(disk.Path("Users/Alice/Downloads"));
    std::filesystem::create_directories(disk.Path("Users/BOB"));
    std::filesystem::create_directories(disk.Path("Users/carol/Documents"));
    std::filesystem::create_directories(disk.Path("Program Files (x86)/Tool"));
    std::filesystem::create_directories(disk.Path("programdata/Vendor"));
    struct Made {
        const char* path;
        std::vector<HiveKeyDraft> keys;
    } const hives[] = {
        {kSoftware, SoftwareKeys(sixtyFourBit)},
        {kSystem, SystemKeys()},
        {kAliceHive, AliceKeys()},
        {kBobHive, BobKeys()},
    };
    for (const Made& hive : hives) {
        std::string error;
        if (!MakeHive(disk.Path(hive.path), hive.keys, error)) ADD_FAILURE() << hive.path << ": " << error;
    }
    const std::pair<const char*, std::string> files[] = {
        {kEvil, InfectedPe()},
        {kHelper, InfectedPe()},
        {kPhotos, InfectedZip()},
        {"windows/system32/audio.exe", infected::SignaturePeOneByteOff(SignatureTable[2])},
        {"windows/system32/evil.exe.bak", "MZ only a backup's name"},
        {"Program Files (x86)/Tool/tool.exe", "MZ clean"},
        {"Users/Alice/letter.txt", "Dear Bob,"},
        {"Users/carol/Documents/notes.txt", "notes"},
    };
    for (const auto& file : files) {
        std::ofstream(disk.Path(file.first), std::ios::binary) << file.second;
    }
    return disk;
}

}  // namespace windowsdisk
