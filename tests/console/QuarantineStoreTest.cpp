// The quarantine on both backends the native tests reach: the in-memory
// fake and the POSIX backend over a scratch folder. The same cases run on
// each: a run stopped at every step loses nothing, the caps decide what is
// kept, a copy that does not match its record is never given back, an
// existing file is never overwritten, and a hostile store writes nowhere.
//
// How a run is stopped differs: the fake stops carrying out calls after a
// number of them and then loses everything not flushed, as in a power cut;
// on the POSIX backend a child process runs the removal and ends itself
// right after a step of keeping the file, as when the program is killed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "console/TempFolder.h"
#include "fixtures/InfectedFiles.h"
#include "fixtures/QuarantineHelpers.h"
#include "platform/fake/FakePlatform.h"
#include "platform/posix/PosixPlatform.h"
#include "scan/BinaryExamination.h"
#include "scan/NeuteredCopy.h"
#include "scan/ScanState.h"
#include "scan/SignatureRecord.h"

using namespace quarantine_test;

namespace {

const char kStore[] = "C:\\store";
const char kThreat[] = "W32/Murkel.A.Trojan";

class StoreWorld {
public:
    virtual ~StoreWorld() {}
    // Runs `action`, stopped at stop point `point` (0: before it starts).
    // False when the action ran to its end before that point.
    virtual bool RunStopped(int point, const std::function<void()>& action) = 0;
    // A power cut takes back the changes of names in `folder` that were not
    // flushed (FakePlatform::MakeNamesFleeting); a world whose stops are
    // kills, which lose nothing the system was told, ignores it.
    virtual void MakeNamesFleeting(const std::string& folder) { (void)folder; }
};

class FakeWorld : public StoreWorld {
public:
    FakeWorld()
    {
        fake_.AddDrive('C', DriveFixed);
        fake_.AddFolder("C:\\files");
        SetPlatform(&fake_);
    }
    // The point is the number of calls that change something still carried
    // out; everything not flushed is then lost.
    bool RunStopped(int point, const std::function<void()>& action) override
    {
        fake_.stepBudget = point;
        action();
        const bool stopped = fake_.stepBudget == 0;
        fake_.SimulateCrash();
        fake_.stepBudget = -1;
        return stopped;
    }
    void MakeNamesFleeting(const std::string& folder) override { fake_.MakeNamesFleeting(folder); }

private:
    FakePlatform fake_;
};

// Set in the child process: after how many steps it ends itself, and how
// many it has taken.
int stopAfterSteps = -1;
int stepsTaken = 0;

void EndAtStep(QuarantineStep)
{
    if (++stepsTaken == stopAfterSteps) _exit(7);
}

class PosixWorld : public StoreWorld {
public:
    PosixWorld()
    {
        platform_.MapDrive('C', temp_.Path());
        temp_.Folder("files");
        SetPlatform(&platform_);
    }
    // The point counts the steps the store reports (QuarantineStep): 0
    // ends the process before the action, n after the n-th step; past the
    // last step the action runs to its end.
    bool RunStopped(int point, const std::function<void()>& action) override
    {
        const pid_t child = fork();
        if (child == 0) {
            if (point == 0) _exit(7);
            stopAfterSteps = point;
            stepsTaken = 0;
            SetQuarantineStepObserver(EndAtStep);
            action();
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        return WIFEXITED(status) && WEXITSTATUS(status) == 7;
    }

private:
    TempFolder temp_;
    PosixPlatform platform_;
};

struct Backend {
    const char* name;
    std::unique_ptr<StoreWorld> (*make)();
};

void PrintTo(const Backend& backend, std::ostream* out)
{
    *out << backend.name;
}

const Backend kBackends[] = {
    {"Fake", [] { return std::unique_ptr<StoreWorld>(new FakeWorld); }},
    {"Posix", [] { return std::unique_ptr<StoreWorld>(new PosixWorld); }},
};

class QuarantineStore : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        ResetScanGlobals();
        world = GetParam().make();
        ScanState.resultSink = 1;
        cleanAction = kActionDelete;
        UseStore(kStore);
    }
    void TearDown() override
    {
        SetQuarantineStepObserver(nullptr);
        ResetScanGlobals();
        world.reset();
    }

    // Deletes `path` as a detection of kThreat.
    static void Remove(const std::string& path)
    {
        CopyText(lastThreatName, sizeof lastThreatName, kThreat);
        ApplyCleanAction(path.c_str());
    }

    // Nothing of `content` is lost: the file is where it was, or an entry
    // gives it back byte for byte (or both).
    void ExpectNothingLost(const std::string& path, const std::string& content, const std::string& restoreTo)
    {
        bool restored = false;
        for (const Listed& listed : Entries()) {
            EXPECT_FALSE(listed.damaged) << listed.id;
            if (listed.damaged || restored) continue;
            EXPECT_EQ(StoreDone, RestoreQuarantineEntry(listed.id.c_str(), restoreTo.c_str())) << listed.id;
            restored = ReadThrough(restoreTo) == content;
            EXPECT_TRUE(restored) << listed.id << " gives back other bytes";
        }
        if (Sys().PathExists(path.c_str())) {
            EXPECT_TRUE(content == ReadThrough(path)) << path << " changed";
        } else {
            EXPECT_TRUE(restored) << "the file is gone and no entry gives it back";
        }
    }

    std::unique_ptr<StoreWorld> world;
};

// The names in `folder` that match `mask`, "." and ".." left out.
std::vector<std::string> NamesIn(const std::string& folder, const char* mask)
{
    std::vector<std::string> names;
    DirEntry entry;
    SearchRef search = Sys().FindFirstEntry((folder + "\\" + mask).c_str(), entry);
    for (bool more = search != 0; more; more = Sys().FindNextEntry(search, entry)) {
        const std::string name = entry.name;
        if (name != "." && name != "..") names.push_back(name);
    }
    if (search) Sys().FindEnd(search);
    std::sort(names.begin(), names.end());
    return names;
}

// What the store holds besides its complete entries and its lock, once it
// has been opened (listing it opens it).
std::vector<std::string> StoreLeftovers()
{
    const std::vector<Listed> entries = Entries();
    std::vector<std::string> names = NamesIn(kStore, "*.*");
    for (const Listed& listed : entries) {
        if (listed.damaged) continue;
        for (const char* extension : {kManifestExtension, kKeptCopyExtension}) {
            names.erase(std::remove(names.begin(), names.end(), listed.id + extension), names.end());
        }
    }
    names.erase(std::remove(names.begin(), names.end(), std::string(kStoreLockName)), names.end());
    return names;
}

// One operation on the store, stopped at every point in turn; then the store
// is opened by a new run.
enum CrashOperation { CrashKeep, CrashRestore, CrashPurge };
struct CrashRow {
    const char* name;
    CrashOperation operation;
    // The folder whose changes of names a power cut takes back unless it
    // was flushed (the fake's only).
    const char* fleeting;
};

const CrashRow kCrashRows[] = {
    {"keeping a file, the store's names fleeting", CrashKeep, kStore},
    {"keeping a file, its own folder's names fleeting", CrashKeep, "C:\\files"},
    {"restoring it, the store's names fleeting", CrashRestore, kStore},
    {"restoring it, the target folder's names fleeting", CrashRestore, "C:\\files"},
    {"purging it, the store's names fleeting", CrashPurge, kStore},
};

TEST_P(QuarantineStore, ARunStoppedAtAnyStepLosesNothingAndLeavesNothingBehindOnceTheStoreIsOpened)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    for (const CrashRow& row : kCrashRows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        ASSERT_TRUE(CreateMissingFolders(kStore));
        world->MakeNamesFleeting(row.fleeting);
        int point = 0;
        for (bool stopped = true; stopped && point < 96; ++point) {
            SCOPED_TRACE("stopped at point " + std::to_string(point));
            const std::string path = "C:\\files\\setup" + std::to_string(point) + ".exe";
            ASSERT_TRUE(WriteThrough(path, content));
            std::string id;
            if (row.operation != CrashKeep) {
                Remove(path);
                // Its removal is on the disk: only the entry has the file.
                ASSERT_TRUE(Sys().FlushFolder("C:\\files"));
                ASSERT_EQ(1u, Entries().size());
                id = Entries()[0].id;
            }
            stopped = world->RunStopped(point, [&] {
                if (row.operation == CrashKeep) Remove(path);
                if (row.operation == CrashRestore) RestoreQuarantineEntry(id.c_str(), path.c_str());
                if (row.operation == CrashPurge) PurgeQuarantineEntry(id.c_str());
            });
            // The next run: the store is opened afresh.
            UseStore(kStore);
            EXPECT_EQ(std::vector<std::string>(), StoreLeftovers());
            // A restore stopped half way leaves nothing in the user's folder.
            EXPECT_EQ(std::vector<std::string>(), NamesIn("C:\\files", "*.QRS"));
            if (row.operation == CrashPurge) {
                // The entry is whole, or gone.
                const std::vector<Listed> entries = Entries();
                ASSERT_GE(1u, entries.size());
                if (!entries.empty()) {
                    EXPECT_EQ(StoreDone, RestoreQuarantineEntry(entries[0].id.c_str(), "C:\\files\\kept.exe"));
                    EXPECT_TRUE(content == ReadThrough("C:\\files\\kept.exe"));
                    Sys().RemoveFile("C:\\files\\kept.exe");
                }
                continue;
            }
            // Restored into the same folder the stopped run used.
            ExpectNothingLost(path, content, "C:\\files\\back" + std::to_string(point) + ".exe");
            // What the stopped run left does not stand in the way of the next.
            if (Sys().PathExists(path.c_str())) {
                Remove(path);
                EXPECT_FALSE(Sys().PathExists(path.c_str()));
                ExpectNothingLost(path, content, "C:\\files\\again" + std::to_string(point) + ".exe");
            }
            EXPECT_TRUE(Entries().empty());
        }
        // The last run went to its end: every point before it was a stop.
        EXPECT_GT(point, 2);
        EXPECT_LT(point, 96);
    }
}

TEST_P(QuarantineStore, TheCapsDecideWhatIsKeptAndTheFileIsRemovedEitherWay)
{
    const std::uint32_t size = 5000;
    const std::uint64_t kept = kNeuteredHeaderLength + size;  // what one copy takes
    struct Row {
        const char* name;
        std::uint32_t fileCap;
        std::uint64_t totalCap;
        bool earlierEntry;  // a copy of the same size is in the store already
        QuarantineOutcome outcome;
        QuarantineFailure failure;
    } const rows[] = {
        {"well within", size * 2, kept * 4, true, QuarantineKept, QuarantineNoFailure},
        {"exactly the file cap", size, kept, false, QuarantineKept, QuarantineNoFailure},
        {"one byte over the file cap", size - 1, kept * 4, false, QuarantineNotKept, QuarantineTooLarge},
        {"one byte short of room", size, kept - 1, false, QuarantineNotKept, QuarantineStoreFull},
        {"exactly the room left", size, kept * 2, true, QuarantineKept, QuarantineNoFailure},
        {"the store is full", size, kept * 2 - 1, true, QuarantineNotKept, QuarantineStoreFull},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        const std::string content = infected::SignaturePe(SignatureTable[2]).substr(0, size);
        if (row.earlierEntry) {
            ASSERT_TRUE(WriteThrough("C:\\files\\earlier.exe", content));
            Remove("C:\\files\\earlier.exe");
            ASSERT_EQ(1u, Entries().size());
        }
        UseStore(kStore, row.totalCap, row.fileCap);
        ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", content));
        RecordLog log;
        Remove("C:\\files\\setup.exe");
        ASSERT_EQ(1u, log.records.size());
        EXPECT_EQ(LineRemoved, log.records[0].line);
        EXPECT_EQ(row.outcome, log.records[0].quarantine.outcome);
        EXPECT_EQ(row.failure, log.records[0].quarantine.failure);
        EXPECT_FALSE(Sys().PathExists("C:\\files\\setup.exe"));
        EXPECT_EQ((row.earlierEntry ? 1u : 0u) + (row.outcome == QuarantineKept ? 1u : 0u), Entries().size());
    }
}

TEST_P(QuarantineStore, AStoreThatCannotBeWrittenKeepsNothingAndTheFileIsRemoved)
{
    // A file where the store's folder should be: nothing can go in it.
    ASSERT_TRUE(WriteThrough(kStore, "not a folder"));
    ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", "MZ stand-in"));
    RecordLog log;
    Remove("C:\\files\\setup.exe");
    ASSERT_EQ(1u, log.records.size());
    EXPECT_EQ(LineRemoved, log.records[0].line);
    EXPECT_EQ(QuarantineNotKept, log.records[0].quarantine.outcome);
    EXPECT_EQ(QuarantineUnwritable, log.records[0].quarantine.failure);
    EXPECT_FALSE(Sys().PathExists("C:\\files\\setup.exe"));
    EXPECT_EQ("not a folder", ReadThrough(kStore));
}

// One change to a kept entry, and whether it is still given back.
struct Tamper {
    const char* name;
    void (*apply)(const std::string& id);
    StoreResult result;
};

void ChangeCopyByte(const std::string& id)
{
    std::string copy = ReadThrough(StoreFile(id, kKeptCopyExtension));
    copy[copy.size() / 2] = static_cast<char>(copy[copy.size() / 2] ^ 0x01);
    WriteThrough(StoreFile(id, kKeptCopyExtension), copy);
}

void CutCopy(const std::string& id)
{
    std::string copy = ReadThrough(StoreFile(id, kKeptCopyExtension));
    WriteThrough(StoreFile(id, kKeptCopyExtension), copy.substr(0, copy.size() - 1));
}

void ChangeHeader(const std::string& id)
{
    std::string copy = ReadThrough(StoreFile(id, kKeptCopyExtension));
    copy[0] = 'M';
    WriteThrough(StoreFile(id, kKeptCopyExtension), copy);
}

void ReplaceInManifest(const std::string& id, const std::string& from, const std::string& to)
{
    std::string manifest = ReadThrough(StoreFile(id, kManifestExtension));
    const std::size_t at = manifest.find(from);
    if (at != std::string::npos) manifest.replace(at, from.size(), to);
    WriteThrough(StoreFile(id, kManifestExtension), manifest);
}

void ChangeRecordedDigest(const std::string& id)
{
    std::string manifest = ReadThrough(StoreFile(id, kManifestExtension));
    char& digit = manifest[manifest.find("sha256=") + 7];
    digit = digit == '0' ? '1' : '0';
    WriteThrough(StoreFile(id, kManifestExtension), manifest);
}

void ChangeRecordedLength(const std::string& id)
{
    ReplaceInManifest(id, "length=", "length=1");
}

void RemoveCopy(const std::string& id)
{
    Sys().RemoveFile(StoreFile(id, kKeptCopyExtension).c_str());
}

const Tamper kTampers[] = {
    {"untouched", [](const std::string&) {}, StoreDone},
    {"one byte of the copy changed", ChangeCopyByte, StoreDamaged},
    {"the copy cut short by a byte", CutCopy, StoreDamaged},
    {"the copy's header changed", ChangeHeader, StoreDamaged},
    {"another digest recorded", ChangeRecordedDigest, StoreDamaged},
    {"another length recorded", ChangeRecordedLength, StoreDamaged},
    {"the copy missing", RemoveCopy, StoreDamaged},
};

TEST_P(QuarantineStore, ACopyThatDoesNotMatchItsRecordIsNeverGivenBack)
{
    for (const Tamper& tamper : kTampers) {
        SCOPED_TRACE(tamper.name);
        TearDown();
        SetUp();
        const std::string content = infected::SignaturePe(SignatureTable[2]);
        ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", content));
        Remove("C:\\files\\setup.exe");
        std::vector<Listed> entries = Entries();
        ASSERT_EQ(1u, entries.size());
        const std::string id = entries[0].id;
        tamper.apply(id);

        EXPECT_EQ(tamper.result, RestoreQuarantineEntry(id.c_str(), "C:\\files\\setup.exe"));
        const bool restored = tamper.result == StoreDone;
        EXPECT_TRUE((restored ? content : "<missing>") == ReadThrough("C:\\files\\setup.exe"));
        // Nothing is left beside it, and the entry goes only once the file is back.
        EXPECT_FALSE(Sys().PathExists(("C:\\files\\" + id + ".QRS").c_str()));
        EXPECT_EQ(!restored, Sys().PathExists(StoreFile(id, kManifestExtension).c_str()));
    }
}

TEST_P(QuarantineStore, AnExistingFileIsNeverOverwrittenAndMissingFoldersAreMade)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", content));
    Remove("C:\\files\\setup.exe");
    const std::string id = Entries().at(0).id;

    ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", "the user's new file"));
    EXPECT_EQ(StoreTargetExists, RestoreQuarantineEntry(id.c_str(), "C:\\files\\setup.exe"));
    EXPECT_EQ("the user's new file", ReadThrough("C:\\files\\setup.exe"));
    EXPECT_EQ(1u, Entries().size());

    // A file beside the target under the name a restore writes to (left
    // by a run that kept no note of it): another file is not touched, and
    // nothing is written; the first bytes of this entry's file are taken away.
    const std::string beside = "C:\\files\\" + id + ".QRS";
    ASSERT_TRUE(WriteThrough(beside, "the user's own bytes"));
    EXPECT_EQ(StoreWriteFailed, RestoreQuarantineEntry(id.c_str(), "C:\\files\\other.exe"));
    EXPECT_EQ("the user's own bytes", ReadThrough(beside));
    EXPECT_FALSE(Sys().PathExists("C:\\files\\other.exe"));
    ASSERT_TRUE(WriteThrough(beside, content.substr(0, content.size() / 2)));
    EXPECT_EQ(StoreDone, RestoreQuarantineEntry(id.c_str(), "C:\\files\\other.exe"));
    EXPECT_TRUE(content == ReadThrough("C:\\files\\other.exe"));
    EXPECT_FALSE(Sys().PathExists(beside.c_str()));
    Remove("C:\\files\\other.exe");
    const std::string again = Entries().at(0).id;

    EXPECT_EQ(StoreDone, RestoreQuarantineEntry(again.c_str(), "C:\\elsewhere\\deeper\\setup.exe"));
    EXPECT_TRUE(content == ReadThrough("C:\\elsewhere\\deeper\\setup.exe"));
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(StoreNoEntry, RestoreQuarantineEntry(again.c_str(), "C:\\files\\other.exe"));
    EXPECT_EQ(StoreBadId, RestoreQuarantineEntry("..\\..\\x", "C:\\files\\other.exe"));
}

TEST_P(QuarantineStore, AHostileStoreWritesNothingOutsideTheTarget)
{
    // Entries written by hand: each manifest names something it must not.
    const std::string valid = "Quellor quarantine entry 1\r\nid=%ID\r\ndata=%DATA\r\npath=%PATH\r\n"
                              "threat=W32/Murkel.A.Trojan\r\ntime=1700000000\r\nlength=3\r\n"
                              "sha256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n";
    struct Row {
        const char* id;
        const char* data;
        const char* path;
    } const rows[] = {
        {"0000000A", "..\\victim.txt", "C:\\files\\a.exe"},
        {"0000000B", "C:\\files\\victim.txt", "C:\\files\\b.exe"},
        {"0000000C", "0000000C.QDT", "C:\\files\\..\\victim.txt"},
        {"0000000D", "0000000D.QDT", "C:\\files\\d.exe\\..\\..\\victim.txt"},
        {"0000000E", "0000000E.QDT", "C:\\files\\e.exe:stream"},
        // Another entry's copy, which a purge of this one must not take.
        {"0000000F", "%OTHER", "C:\\files\\f.exe"},
    };
    ASSERT_TRUE(WriteThrough("C:\\victim.txt", "abc"));
    const std::string bystanderContent = infected::SignaturePe(SignatureTable[2]);
    ASSERT_TRUE(WriteThrough("C:\\files\\bystander.exe", bystanderContent));
    Remove("C:\\files\\bystander.exe");
    ASSERT_EQ(1u, Entries().size());
    const std::string bystander = Entries()[0].id;
    for (const Row& row : rows) {
        std::string manifest = valid;
        manifest.replace(manifest.find("%ID"), 3, row.id);
        const std::string data = row.data == std::string("%OTHER") ? bystander + kKeptCopyExtension : row.data;
        manifest.replace(manifest.find("%DATA"), 5, data);
        manifest.replace(manifest.find("%PATH"), 5, row.path);
        ASSERT_TRUE(WriteThrough(StoreFile(row.id, kManifestExtension), manifest));
        std::string copy(kNeuteredHeader, kNeuteredHeaderLength);
        std::string bytes = "abc";
        NeuterBytes(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), 0);
        ASSERT_TRUE(WriteThrough(StoreFile(row.id, kKeptCopyExtension), copy + bytes));
    }
    std::vector<Listed> entries = Entries();
    EXPECT_EQ(7u, entries.size());
    for (const Listed& listed : entries) EXPECT_EQ(listed.id != bystander, listed.damaged) << listed.id;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(StoreDamaged, RestoreQuarantineEntry(row.id, "C:\\restored\\file.exe"));
        EXPECT_FALSE(Sys().PathExists("C:\\restored"));
        // A damaged entry is removed by its id: its two files, nothing else.
        EXPECT_EQ(StoreDone, PurgeQuarantineEntry(row.id));
        EXPECT_FALSE(Sys().PathExists(StoreFile(row.id, kManifestExtension).c_str()));
        EXPECT_FALSE(Sys().PathExists(StoreFile(row.id, kKeptCopyExtension).c_str()));
    }
    EXPECT_EQ("abc", ReadThrough("C:\\victim.txt"));
    ASSERT_EQ(1u, Entries().size());
    EXPECT_EQ(StoreDone, RestoreQuarantineEntry(bystander.c_str(), "C:\\files\\bystander.exe"));
    EXPECT_TRUE(bystanderContent == ReadThrough("C:\\files\\bystander.exe"));
    EXPECT_TRUE(Entries().empty());
}

// What an interrupted keep or purge leaves in the store, made from a kept
// entry of `id`; how the store's opening deals with it.
struct Leftover {
    const char* name;
    void (*make)(const std::string& id);
    bool finished;  // an entry is made whole of it; else all of it goes
};

void Move(const std::string& id, const char* from, const char* to)
{
    Sys().RenameFile(StoreFile(id, from).c_str(), StoreFile(id, to).c_str());
}

const Leftover kLeftovers[] = {
    {"a copy being written", [](const std::string& id) {
         Sys().RemoveFile(StoreFile(id, kManifestExtension).c_str());
         Move(id, kKeptCopyExtension, kCopyInProgressExtension);
     }, false},
    {"a copy without its manifest (a purge stopped half way)",
     [](const std::string& id) { Sys().RemoveFile(StoreFile(id, kManifestExtension).c_str()); }, false},
    {"a manifest being written, and no copy", [](const std::string& id) {
         Sys().RemoveFile(StoreFile(id, kKeptCopyExtension).c_str());
         Move(id, kManifestExtension, kManifestInProgressExtension);
     }, false},
    {"a complete copy whose manifest was being written",
     [](const std::string& id) { Move(id, kManifestExtension, kManifestInProgressExtension); }, true},
    {"a copy whose manifest was cut short", [](const std::string& id) {
         Move(id, kManifestExtension, kManifestInProgressExtension);
         const std::string manifest = ReadThrough(StoreFile(id, kManifestInProgressExtension));
         WriteThrough(StoreFile(id, kManifestInProgressExtension), manifest.substr(0, manifest.size() - 3));
     }, false},
    {"a copy shorter than the manifest being written says", [](const std::string& id) {
         Move(id, kManifestExtension, kManifestInProgressExtension);
         CutCopy(id);
     }, false},
    {"a manifest being written that names another entry", [](const std::string& id) {
         Move(id, kManifestExtension, kManifestInProgressExtension);
         std::string manifest = ReadThrough(StoreFile(id, kManifestInProgressExtension));
         manifest.replace(manifest.find("id=") + 3, 8, "0000ABCD");
         WriteThrough(StoreFile(id, kManifestInProgressExtension), manifest);
     }, false},
};

TEST_P(QuarantineStore, LeftoversOfInterruptedRunsAreFinishedOrClearedWhenTheStoreIsOpened)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    const std::uint64_t copySize = kNeuteredHeaderLength + content.size();
    for (const Leftover& leftover : kLeftovers) {
        SCOPED_TRACE(leftover.name);
        TearDown();
        SetUp();
        ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", content));
        Remove("C:\\files\\setup.exe");
        ASSERT_EQ(1u, Entries().size());
        const std::string id = Entries()[0].id;
        leftover.make(id);

        // A new run, whose store holds room for one copy.
        UseStore(kStore, copySize);
        EXPECT_EQ(std::vector<std::string>(), StoreLeftovers());
        const std::vector<Listed> entries = Entries();
        ASSERT_EQ(leftover.finished ? 1u : 0u, entries.size());
        // Whatever was cleared no longer takes the room of a copy.
        ASSERT_TRUE(WriteThrough("C:\\files\\next.exe", content));
        RecordLog log;
        Remove("C:\\files\\next.exe");
        ASSERT_EQ(1u, log.records.size());
        EXPECT_EQ(leftover.finished ? QuarantineStoreFull : QuarantineNoFailure, log.records[0].quarantine.failure);
        if (!leftover.finished) continue;
        EXPECT_FALSE(entries[0].damaged);
        EXPECT_EQ(StoreDone, RestoreQuarantineEntry(id.c_str(), "C:\\files\\back.exe"));
        EXPECT_TRUE(content == ReadThrough("C:\\files\\back.exe"));
    }
}

// Two runs at once on the POSIX backend: one stopped for a while between
// the steps of keeping a file, with its copy named and no manifest yet;
// the other opens the store meanwhile, which waits for the first run's
// step to end rather than take its copy for a leftover.
int pausePipe = -1;

void PauseAfterCopyNamed(QuarantineStep step)
{
    if (step != QuarantineStepCopyNamed) return;
    const char reached = 'r';
    if (write(pausePipe, &reached, 1) != 1) _exit(8);
    usleep(400 * 1000);
}

TEST(QuarantineStoreTwoRuns, OpeningTheStoreWaitsForAnotherRunsStepAndTakesNothingOfIt)
{
    TempFolder temp;
    PosixPlatform platform;
    platform.MapDrive('C', temp.Path());
    temp.Folder("files");
    SetPlatform(&platform);
    ResetScanGlobals();
    ScanState.resultSink = 1;
    cleanAction = kActionDelete;
    UseStore(kStore);
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    ASSERT_TRUE(WriteThrough("C:\\files\\setup.exe", content));

    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        pausePipe = ends[1];
        SetQuarantineStepObserver(PauseAfterCopyNamed);
        CopyText(lastThreatName, sizeof lastThreatName, kThreat);
        ApplyCleanAction("C:\\files\\setup.exe");
        _exit(0);
    }
    close(ends[1]);
    char reached = 0;
    ASSERT_EQ(1, read(ends[0], &reached, 1));
    close(ends[0]);
    // The other run's copy has its name and no manifest: this run opens
    // the store now.
    UseStore(kStore);
    const std::vector<Listed> entries = Entries();
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(1u, entries.size());
    EXPECT_FALSE(entries[0].damaged);
    EXPECT_FALSE(Sys().PathExists("C:\\files\\setup.exe"));
    EXPECT_EQ(StoreDone, RestoreQuarantineEntry(entries[0].id.c_str(), "C:\\files\\setup.exe"));
    EXPECT_TRUE(content == ReadThrough("C:\\files\\setup.exe"));
    ResetScanGlobals();
}

INSTANTIATE_TEST_SUITE_P(Backends, QuarantineStore, ::testing::ValuesIn(kBackends),
                         [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

}  // namespace
