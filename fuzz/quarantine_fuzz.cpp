// libFuzzer target: the quarantine's manifest reader, and the store's
// commands over a store whose one entry has the input as its manifest.
//
// Invariants:
// - a manifest that is read holds only names that pass the checks, and is
//   written back to a manifest that reads the same;
// - listing, reading, restoring to D:\target\file.bin and purging the entry
//   never crash, and afterwards no file exists anywhere but in the store (a
//   subset of what was there) and at that one target; files outside the
//   store, C:\victim.txt and a file of another's beside it under the name a
//   restore writes to (C:\0000000A.QRS), are never touched. The input is
//   the entry's restore note as well (with a valid manifest when it is no
//   manifest itself), which the store's opening settles;
// - a file that was restored holds exactly the kept bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "scan/NeuteredCopy.h"
#include "scan/Quarantine.h"
#include "scan/QuarantineManifest.h"
#include "scan/QuarantineStore.h"
#include "scan/ScanState.h"

namespace {

const char kId[] = "0000000A";
const char kTarget[] = "D:\\target\\file.bin";
const char kKept[] = "abc";  // what the entry's copy holds
// The entry's manifest when the input is none: the input is then only the
// restore note.
const char kValidManifest[] =
    "Quellor quarantine entry 1\r\nid=0000000A\r\ndata=0000000A.QDT\r\npath=C:\\files\\setup.exe\r\n"
    "threat=W32/Murkel.A.Trojan\r\ntime=1700000000\r\nlength=3\r\n"
    "sha256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n";

void Require(bool condition)
{
    if (!condition) std::abort();
}

void CheckRoundTrip(const QuarantineEntry& entry)
{
    Require(IsQuarantineId(entry.id) && IsPlainStoreName(entry.dataName) && IsSafeOriginalPath(entry.originalPath) &&
            IsSafeThreatName(entry.threat));
    char text[kManifestMaxBytes];
    const std::size_t length = FormatManifest(entry, text, sizeof text);
    Require(length > 0);
    QuarantineEntry again;
    Require(ParseManifest(reinterpret_cast<const unsigned char*>(text), length, again));
    Require(std::strcmp(entry.originalPath, again.originalPath) == 0 && std::strcmp(entry.threat, again.threat) == 0 &&
            std::strcmp(entry.dataName, again.dataName) == 0 && entry.time == again.time &&
            entry.length == again.length && std::memcmp(entry.sha256, again.sha256, kSha256Size) == 0);
}

// Every file on the fake's drives, by full path.
void CollectFiles(FakePlatform& fake, const std::string& folder, std::vector<std::string>& files)
{
    DirEntry entry;
    SearchRef search = fake.FindFirstEntry((folder + "\\*.*").c_str(), entry);
    for (bool more = search != 0; more; more = fake.FindNextEntry(search, entry)) {
        const std::string name = entry.name;
        if (name == "." || name == "..") continue;
        if (entry.attributes & kAttrDirectory) {
            CollectFiles(fake, folder + "\\" + name, files);
        } else {
            files.push_back(folder + "\\" + name);
        }
    }
    if (search) fake.FindEnd(search);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QuarantineEntry entry;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const bool manifest = ParseManifest(data, size, entry);
    if (manifest) CheckRoundTrip(entry);

    FakePlatform fake;
    SetPlatform(&fake);
    ResetScanGlobals();
    fake.AddDrive('C', DriveFixed);
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("C:\\victim.txt", "victim");
    fake.AddFile("C:\\0000000A.QRS", "victim");
    std::string copy(kNeuteredHeader, kNeuteredHeaderLength);
    std::string kept = kKept;
    NeuterBytes(reinterpret_cast<unsigned char*>(&kept[0]), kept.size(), 0);
    fake.AddFile(std::string("C:\\store\\") + kId + ".QDT", copy + kept);
    fake.AddFile(std::string("C:\\store\\") + kId + ".QMF", manifest ? input : std::string(kValidManifest));
    fake.AddFile(std::string("C:\\store\\") + kId + ".QRP", input);
    QuarantineSettings settings;
    std::strcpy(settings.folder, "C:\\store");
    settings.totalCap = kDefaultQuarantineTotalCap;
    settings.fileCap = kDefaultQuarantineFileCap;
    settings.ownPlace = false;
    UseQuarantine(settings);

    ListQuarantine([](const char*, const QuarantineEntry* listed, void*) { if (listed) CheckRoundTrip(*listed); },
                   nullptr);
    QuarantineEntry read;
    if (ReadQuarantineEntry(kId, read) == StoreDone) CheckRoundTrip(read);
    const StoreResult restored = RestoreQuarantineEntry(kId, kTarget);
    if (restored == StoreDone) Require(fake.Content(kTarget) == kKept);
    PurgeQuarantineEntry(kId);

    std::vector<std::string> files;
    CollectFiles(fake, "C:", files);
    CollectFiles(fake, "D:", files);
    for (const std::string& file : files) {
        const bool inStore = file.compare(0, 9, "C:\\store\\") == 0 && file.find('\\', 9) == std::string::npos;
        Require(inStore || file == "C:\\victim.txt" || file == "C:\\0000000A.QRS" ||
                (restored == StoreDone && file == kTarget));
    }
    Require(fake.Content("C:\\victim.txt") == "victim");
    Require(fake.Content("C:\\0000000A.QRS") == "victim");

    StopQuarantine();
    SetPlatform(nullptr);
    return 0;
}
