// make_rescue_disk: the contents of the rescue stick's test disks, and the
// check of what the stick did to them.
//
//   make_rescue_disk windows FOLDER   the tests' Windows disk (console/WindowsDisk.h):
//                                     hives of the machine and two users with
//                                     start-up values, the 32-bit view, infected
//                                     files and clean look-alikes
//   make_rescue_disk nine FOLDER      a Windows 95/98/ME disk with an infected file
//   make_rescue_disk check BEFORE AFTER
//                                     AFTER is BEFORE cleaned: every infected file
//                                     gone, each hive without exactly the traces
//                                     the cleaning removes, every other file the
//                                     same bytes, nothing new but the disk's own
//                                     run log. Says each difference; exit 1 on any.
//
// Only ever writes into a scratch folder the test made: the stick deletes
// what it detects.
#include <cstdio>
#include <iostream>
#include <string>

namespace {
int failures = 0;
}  // namespace

// WindowsDisk.h reports a hive it could not make as a test failure.
#define ADD_FAILURE() (++failures, std::cerr << "make_rescue_disk: ")
#include "console/WindowsDisk.h"

namespace {

using namespace windowsdisk;

const char kNineInfected[] = "My Documents/setup.exe";

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

void MakeNine(const std::string& root)
{
    // The registry of 95/98/ME is not cleaned, so its hives are only
    // there to be found.
    WriteFile(root + "/WINDOWS/SYSTEM.DAT", "CREG\x01\x00\x03\x00 machine");
    WriteFile(root + "/WINDOWS/USER.DAT", "CREG\x01\x00\x03\x00 user");
    WriteFile(root + "/WINDOWS/WIN.INI", "[windows]\r\nload=\r\n");
    WriteFile(root + "/" + kNineInfected, InfectedPe());
    WriteFile(root + "/My Documents/letter.txt", "Dear Bob,");
    WriteFile(root + "/My Documents/audio.exe", infected::SignaturePeOneByteOff(SignatureTable[2]));
}

bool IsInfected(const std::string& bytes)
{
    return bytes == InfectedPe() || bytes == InfectedZip();
}

bool IsHive(const std::string& relative)
{
    for (const char* hive : {kSoftware, kSystem, kAliceHive, kBobHive}) {
        if (relative == hive) return true;
    }
    return false;
}

void Fail(const std::string& what)
{
    ++failures;
    std::cout << "DIFFERS: " << what << "\n";
}

void CheckHive(const std::string& before, const std::string& after, const std::string& relative)
{
    std::vector<std::string> was, now;
    std::string error;
    if (!DumpHive(before + "/" + relative, was, error) || !DumpHive(after + "/" + relative, now, error)) {
        Fail(relative + ": cannot be read: " + error);
        return;
    }
    const std::vector<std::string> expected = WithoutTraces(was, relative);
    if (now == expected) {
        std::cout << "hive cleaned as expected: " << relative << " (" << was.size() - now.size()
                  << " lines fewer)\n";
        return;
    }
    for (const std::string& line : expected) {
        if (std::find(now.begin(), now.end(), line) == now.end()) Fail(relative + ": lost " + line);
    }
    for (const std::string& line : now) {
        if (std::find(expected.begin(), expected.end(), line) == expected.end()) Fail(relative + ": still has " + line);
    }
}

void Check(const std::string& before, const std::string& after)
{
    const std::map<std::string, std::string> was = FilesBelow(before);
    const std::map<std::string, std::string> now = FilesBelow(after);
    for (const auto& file : was) {
        const auto found = now.find(file.first);
        if (IsInfected(file.second)) {
            if (found != now.end()) Fail(file.first + ": infected, still there");
            else std::cout << "removed: " << file.first << "\n";
        } else if (found == now.end()) {
            Fail(file.first + ": clean, but gone");
        } else if (IsHive(file.first)) {
            CheckHive(before, after, file.first);
        } else if (found->second != file.second) {
            Fail(file.first + ": clean, but changed");
        }
    }
    for (const auto& file : now) {
        if (was.count(file.first)) continue;
        const std::string log = "Quellor/Quellor.log";
        const bool ownLog = file.first.size() >= log.size() &&
                            file.first.compare(file.first.size() - log.size(), log.size(), log) == 0;
        if (ownLog) std::cout << "the disk's own run log: " << file.first << "\n";
        else Fail(file.first + ": new");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc == 3 && mode == "windows") {
        MakeDisk(argv[2]);
    } else if (argc == 3 && mode == "nine") {
        MakeNine(argv[2]);
    } else if (argc == 4 && mode == "check") {
        Check(argv[2], argv[3]);
    } else {
        std::fprintf(stderr, "usage: make_rescue_disk windows|nine FOLDER | check BEFORE AFTER\n");
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
