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

private:
    FakePlatform fake_;
};

// Set in the child process: the step after which it ends itself.
int stopAfterStep = -1;

void EndAtStep(QuarantineStep step)
{
    if (static_cast<int>(step) == stopAfterStep) _exit(7);
}

class PosixWorld : public StoreWorld {
public:
    PosixWorld()
    {
        platform_.MapDrive('C', temp_.Path());
        temp_.Folder("files");
        SetPlatform(&platform_);
    }
    // The point counts the steps of keeping a file (Quarantine.h): 0 ends
    // the process before the action, n after the n-th step; past the last
    // step the action runs to its end.
    bool RunStopped(int point, const std::function<void()>& action) override
    {
        const pid_t child = fork();
        if (child == 0) {
            if (point == 0) _exit(7);
            stopAfterStep = point - 1;
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

TEST_P(QuarantineStore, ARunStoppedAtAnyStepLosesNothing)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    int point = 0;
    for (bool stopped = true; stopped && point < 64; ++point) {
        SCOPED_TRACE("stopped at point " + std::to_string(point));
        const std::string path = "C:\\files\\setup" + std::to_string(point) + ".exe";
        ASSERT_TRUE(WriteThrough(path, content));
        stopped = world->RunStopped(point, [&] { Remove(path); });
        ExpectNothingLost(path, content, "C:\\files\\back" + std::to_string(point) + ".exe");
        // What the stopped run left does not stand in the way of the next.
        if (Sys().PathExists(path.c_str())) {
            Remove(path);
            EXPECT_FALSE(Sys().PathExists(path.c_str()));
            ExpectNothingLost(path, content, "C:\\files\\again" + std::to_string(point) + ".exe");
        }
    }
    // The last run went to its end: every point before it was a stop.
    EXPECT_GT(point, 4);
    EXPECT_LT(point, 64);
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

    EXPECT_EQ(StoreDone, RestoreQuarantineEntry(id.c_str(), "C:\\elsewhere\\deeper\\setup.exe"));
    EXPECT_TRUE(content == ReadThrough("C:\\elsewhere\\deeper\\setup.exe"));
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(StoreNoEntry, RestoreQuarantineEntry(id.c_str(), "C:\\files\\other.exe"));
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
    };
    ASSERT_TRUE(WriteThrough("C:\\victim.txt", "abc"));
    ASSERT_TRUE(CreateMissingFolders(kStore));
    for (const Row& row : rows) {
        std::string manifest = valid;
        manifest.replace(manifest.find("%ID"), 3, row.id);
        manifest.replace(manifest.find("%DATA"), 5, row.data);
        manifest.replace(manifest.find("%PATH"), 5, row.path);
        ASSERT_TRUE(WriteThrough(StoreFile(row.id, kManifestExtension), manifest));
        std::string copy(kNeuteredHeader, kNeuteredHeaderLength);
        std::string bytes = "abc";
        NeuterBytes(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), 0);
        ASSERT_TRUE(WriteThrough(StoreFile(row.id, kKeptCopyExtension), copy + bytes));
    }
    std::vector<Listed> entries = Entries();
    EXPECT_EQ(5u, entries.size());
    for (const Listed& listed : entries) EXPECT_TRUE(listed.damaged) << listed.id;
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
    EXPECT_TRUE(Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, QuarantineStore, ::testing::ValuesIn(kBackends),
                         [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

}  // namespace
