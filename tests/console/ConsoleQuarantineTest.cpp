// quellor-scan's quarantine as a user meets it: --remove keeps what it
// removes (in the folder named with --quarantine, or in the user's data
// folder), --no-quarantine keeps nothing, --quarantine-list shows the
// entries, --restore brings a file back byte for byte and never over an
// existing file, --purge and --purge-older-than empty the store; bad IDs and
// damaged entries end with a clear reason, status 2 and nothing changed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/console/ConsoleScan.h"
#include "app/console/ConsoleStore.h"
#include "console/ScannerRun.h"
#include "console/StoreIds.h"
#include "console/TempFolder.h"
#include "fixtures/InfectedFiles.h"
#include "scan/SignatureRecord.h"

namespace {

const char kThreat[] = "W32/Murkel.A.Trojan";

std::string InfectedPe()
{
    return infected::SignaturePe(SignatureTable[2]);
}

// A tree with one infected file, removed into `store`; the entry's id.
std::string RemoveInto(const TempFolder& tree, const std::string& store, const std::string& name = "setup.exe")
{
    tree.Write(name, InfectedPe());
    const std::vector<std::string> before = StoreIds(store);
    Outcome outcome = RunScanner({"--remove", "--quarantine", store, tree.Path()});
    EXPECT_EQ(kExitFound, outcome.status) << outcome.err;
    std::vector<std::string> after = StoreIds(store);
    for (const std::string& id : before) after.erase(std::find(after.begin(), after.end(), id));
    EXPECT_EQ(1u, after.size());
    return after.empty() ? std::string() : after[0];
}

TEST(ConsoleQuarantine, RemoveKeepsTheFileAndRestoreBringsItBackToBeFoundAgain)
{
    TempFolder tree;
    TempFolder store;
    tree.Write("clean.txt", "clean");
    tree.Write("sub/setup.exe", InfectedPe());
    Outcome removed = RunScanner({"--remove", "--quiet", "--quarantine", store.Path(), tree.Path()});
    EXPECT_EQ(kExitFound, removed.status);
    // The lines are the ones without a quarantine: nothing is added to them.
    const std::string file = tree / "sub/setup.exe";
    EXPECT_EQ(file + "     " + kThreat + " removed", Lines(removed.out).at(0));
    EXPECT_EQ(" ", Lines(removed.out).at(1));
    EXPECT_FALSE(Exists(file));
    const std::vector<std::string> ids = StoreIds(store.Path());
    ASSERT_EQ(1u, ids.size());

    Outcome listed = RunScanner({"--quarantine", store.Path(), "--quarantine-list"});
    EXPECT_EQ(kExitClean, listed.status);
    ASSERT_EQ(1u, Lines(listed.out).size());
    EXPECT_TRUE(std::regex_match(Lines(listed.out)[0],
                                 std::regex(ids[0] + "  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC  " +
                                            std::to_string(InfectedPe().size()) + " bytes  " + kThreat + "  " +
                                            file)))
        << listed.out;

    Outcome restored = RunScanner({"--quarantine", store.Path(), "--restore", ids[0]});
    EXPECT_EQ(kExitClean, restored.status) << restored.err;
    EXPECT_EQ("Restored " + file + " (" + kThreat + ") from quarantine entry " + ids[0] + "\n", restored.out);
    EXPECT_TRUE(ReadFileText(file) == InfectedPe());
    EXPECT_TRUE(StoreIds(store.Path()).empty());

    Outcome again = RunScanner({"--quiet", tree.Path()});
    EXPECT_EQ(kExitFound, again.status);
    EXPECT_EQ(file + "     " + kThreat + " not disinfected as per user's selection", Lines(again.out).at(0));
}

TEST(ConsoleQuarantine, ListingInJsonGivesOneObjectPerEntry)
{
    TempFolder tree;
    TempFolder store;
    const std::string first = RemoveInto(tree, store.Path(), "one.exe");
    const std::string second = RemoveInto(tree, store.Path(), "two.exe");
    Outcome listed = RunScanner({"--quarantine-list", "--json", "--quarantine", store.Path()});
    EXPECT_EQ(kExitClean, listed.status);
    const std::vector<std::string> lines = Lines(listed.out);
    ASSERT_EQ(2u, lines.size());
    const std::string length = std::to_string(InfectedPe().size());
    const std::string digest = "\"sha256\":\"[0-9a-f]{64}\"";
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string id = i == 0 ? first : second;
        const std::string path = tree / (i == 0 ? "one.exe" : "two.exe");
        const std::string pattern = "\\{\"type\":\"quarantined\",\"id\":\"" + id + "\",\"path\":\"" + path +
                                    "\",\"threat\":\"" + kThreat + "\",\"time\":\\d+,\"date\":\"[-0-9: ]{19}\",\"length\":" +
                                    length + "," + digest + "\\}";
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(pattern))) << lines[i];
    }
}

TEST(ConsoleQuarantine, TheDefaultPlaceIsTheUsersDataFolder)
{
    TempFolder home;
    TempFolder data;
    TempFolder tree;
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> environment;
        std::string store;
    } const rows[] = {
        {"under HOME", {{"HOME", home.Path()}}, home / ".local/share/quellor/quarantine"},
        {"XDG_DATA_HOME", {{"HOME", home.Path()}, {"XDG_DATA_HOME", data.Path()}}, data / "quellor/quarantine"},
        {"a relative XDG_DATA_HOME is not taken", {{"HOME", home.Path()}, {"XDG_DATA_HOME", "relative"}},
         home / ".local/share/quellor/quarantine"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tree.Write("setup.exe", InfectedPe());
        RunOptions how;
        how.environment = row.environment;
        how.folder = tree.Path();
        const std::size_t before = StoreIds(row.store).size();
        // A folder named relative to the working folder: the entry records
        // the file's absolute path all the same.
        EXPECT_EQ(kExitFound, RunScanner({"--remove", "."}, how).status);
        EXPECT_EQ(before + 1, StoreIds(row.store).size());
        Outcome listed = RunScanner({"--quarantine-list"}, how);
        ASSERT_EQ(before + 1, Lines(listed.out).size());
        const std::string last = Lines(listed.out).back();
        EXPECT_EQ("  " + (tree / "setup.exe"), last.substr(last.size() - tree.Path().size() - 12));
    }
}

TEST(ConsoleQuarantine, NoQuarantineKeepsNothingAndAFileThatCannotBeKeptIsStillRemoved)
{
    TempFolder tree;
    TempFolder store;
    tree.Write("setup.exe", InfectedPe());
    Outcome plain = RunScanner({"--remove", "--no-quarantine", "--quarantine-list", tree.Path()});
    EXPECT_EQ(kExitTrouble, plain.status);
    TempFolder home;
    RunOptions how;
    how.environment = {{"HOME", home.Path()}};
    Outcome off = RunScanner({"--remove", "--no-quarantine", tree.Path()}, how);
    EXPECT_EQ(kExitFound, off.status);
    EXPECT_FALSE(Exists(tree / "setup.exe"));
    EXPECT_FALSE(Exists(home / ".local"));

    // No place for the quarantine at all: nothing is touched.
    tree.Write("setup.exe", InfectedPe());
    RunOptions homeless;
    homeless.environment = {{"HOME", "relative"}};
    Outcome nowhere = RunScanner({"--remove", tree.Path()}, homeless);
    EXPECT_EQ(kExitTrouble, nowhere.status);
    EXPECT_EQ("quellor-scan: no folder for the quarantine: $HOME names no absolute folder "
              "(name one with --quarantine DIR) (--no-quarantine removes without keeping a copy)\n",
              nowhere.err);
    EXPECT_TRUE(Exists(tree / "setup.exe"));

    // A store that cannot be written: the file goes all the same, and a line
    // of its own says it was not kept.
    tree.Write("setup.exe", InfectedPe());
    const std::string blocked = store.Write("not-a-folder", "a file");
    Outcome kept = RunScanner({"--remove", "--quiet", "--quarantine", blocked, tree.Path()});
    // The exit status tells a removal without a copy from a kept one.
    EXPECT_EQ(kExitFound + kExitNotKept, kept.status);
    EXPECT_FALSE(Exists(tree / "setup.exe"));
    const std::vector<std::string> lines = Lines(kept.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(tree / "setup.exe" + "     " + kThreat + " removed", lines[0]);
    EXPECT_EQ("Not quarantined (the quarantine could not be written): " + (tree / "setup.exe"), lines[1]);
    Outcome json = RunScanner({"--remove", "--json", "--quarantine", blocked, (tree.Write("setup.exe", InfectedPe()))});
    EXPECT_NE(std::string::npos,
              json.out.find("\"quarantine\":\"not quarantined\",\"quarantineReason\":\"the quarantine could not be "
                            "written\""))
        << json.out;
    EXPECT_EQ(kExitFound + kExitNotKept, json.status);
    EXPECT_NE(std::string::npos, json.out.find("\"problems\":1,\"notQuarantined\":1,")) << json.out;
    EXPECT_NE(std::string::npos, json.out.find("\"exitStatus\":5}")) << json.out;
}

TEST(ConsoleQuarantine, RestoreNeverOverwritesAndGoesWhereItIsAsked)
{
    TempFolder tree;
    TempFolder store;
    TempFolder elsewhere;
    const std::string id = RemoveInto(tree, store.Path());
    const std::string file = tree / "setup.exe";
    tree.Write("setup.exe", "the user's own new file");

    Outcome refused = RunScanner({"--quarantine", store.Path(), "--restore", id});
    EXPECT_EQ(kExitTrouble, refused.status);
    EXPECT_EQ("quellor-scan: " + file + " exists: nothing was overwritten (--to PATH restores the file elsewhere)\n",
              refused.err);
    EXPECT_EQ("the user's own new file", ReadFileText(file));
    EXPECT_EQ(1u, StoreIds(store.Path()).size());

    // Into a folder that exists, under the file's own name; or to a new path
    // whose missing folders are made; a lower-case id is the same id.
    struct Row {
        const char* name;
        std::string to;
        std::string lands;
    } const rows[] = {
        {"into a folder", elsewhere.Path(), elsewhere / "setup.exe"},
        {"to a new path", elsewhere / "new/deeper/copy.exe", elsewhere / "new/deeper/copy.exe"},
        // A path that ends in '/' names a folder, made when it is missing.
        {"into a folder not yet made", elsewhere / "newdir/", elsewhere / "newdir/setup.exe"},
        {"into folders not yet made", elsewhere / "one/two/", elsewhere / "one/two/setup.exe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string entry = RemoveInto(tree, store.Path());
        std::string lower = entry;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Outcome restored = RunScanner({"--quarantine", store.Path(), "--restore", lower, "--to", row.to});
        EXPECT_EQ(kExitClean, restored.status) << restored.err;
        EXPECT_TRUE(ReadFileText(row.lands) == InfectedPe());
    }
    // The relative --to is taken from the working folder.
    RunOptions how;
    how.folder = elsewhere.Path();
    Outcome relative = RunScanner({"--quarantine", store.Path(), "--restore", id, "--to", "rel/x.exe"}, how);
    EXPECT_EQ(kExitClean, relative.status) << relative.err;
    EXPECT_TRUE(ReadFileText(elsewhere / "rel/x.exe") == InfectedPe());
}

TEST(ConsoleQuarantine, AnEntryRecordedOnWindowsComesBackOnlyWhereTheUserSays)
{
    TempFolder tree;
    TempFolder store;
    TempFolder elsewhere;
    const std::string id = RemoveInto(tree, store.Path());
    const std::string manifest = store / (id + ".QMF");
    std::string text = ReadFileText(manifest);
    const std::size_t at = text.find("path=") + 5;
    text.replace(at, text.find('\r', at) - at, "C:\\Users\\alice\\setup.exe");
    std::ofstream(manifest, std::ios::binary | std::ios::trunc) << text;

    Outcome nowhere = RunScanner({"--quarantine", store.Path(), "--restore", id});
    EXPECT_EQ(kExitTrouble, nowhere.status);
    EXPECT_EQ("quellor-scan: quarantine entry recorded on another system (C:\\Users\\alice\\setup.exe): name a "
              "place with --to PATH; nothing was restored\n",
              nowhere.err);
    Outcome restored = RunScanner({"--quarantine", store.Path(), "--restore", id, "--to", elsewhere.Path()});
    EXPECT_EQ(kExitClean, restored.status) << restored.err;
    EXPECT_TRUE(ReadFileText(elsewhere / "setup.exe") == InfectedPe());
    EXPECT_TRUE(StoreIds(store.Path()).empty());
}

TEST(ConsoleQuarantine, BadIdsAndDamagedEntriesChangeNothing)
{
    TempFolder tree;
    TempFolder store;
    const std::string good = RemoveInto(tree, store.Path());
    const std::string bad = RemoveInto(tree, store.Path(), "bad.exe");
    // One entry edited by hand into one that would write outside its place.
    const std::string manifest = store / (bad + ".QMF");
    std::string text = ReadFileText(manifest);
    text.replace(text.find("path=") + 5, 0, "/tmp/../");
    std::ofstream(manifest, std::ios::binary | std::ios::trunc) << text;
    const std::string tamperedText = ReadFileText(manifest);
    const std::vector<std::string> both = StoreIds(store.Path());
    ASSERT_EQ(2u, both.size());

    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::string err;
    } const rows[] = {
        {"not an id", {"--restore", "12345"},
         "quellor-scan: '12345' is not a quarantine entry ID (8 hexadecimal digits)\nTry 'quellor-scan --help'.\n"},
        {"a path for an id", {"--purge", "../../x"},
         "quellor-scan: '../../x' is not a quarantine entry ID (8 hexadecimal digits)\nTry 'quellor-scan --help'.\n"},
        {"no such entry", {"--restore", "0000ABCD"},
         "quellor-scan: there is no quarantine entry 0000ABCD; nothing was restored\n"},
        {"no such entry to purge", {"--purge", "0000ABCD"}, "quellor-scan: there is no quarantine entry 0000ABCD\n"},
        {"a damaged entry", {"--restore", bad}, "quellor-scan: quarantine entry " + bad +
                                                    " is damaged; nothing was restored\n"},
        {"the age of a damaged entry is not known",
         {"--purge-older-than", "0"},
         "quellor-scan: quarantine entry " + bad + " is damaged (--purge " + bad +
             " removes it)\nquellor-scan: nothing was removed\n"},
        {"not a number of days", {"--purge-older-than", "-3"},
         "quellor-scan: '-3' is not a number of days (0 to 100000)\nTry 'quellor-scan --help'.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> arguments = {"--quarantine", store.Path()};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        Outcome outcome = RunScanner(arguments);
        EXPECT_EQ(kExitTrouble, outcome.status);
        EXPECT_EQ(row.err, outcome.err);
        EXPECT_EQ(both, StoreIds(store.Path()));
        EXPECT_EQ(tamperedText, ReadFileText(manifest));
        EXPECT_FALSE(Exists("/tmp/bad.exe"));
    }
    // The list shows the good entry and names the damaged one.
    Outcome listed = RunScanner({"--quarantine", store.Path(), "--quarantine-list"});
    EXPECT_EQ(kExitTrouble, listed.status);
    EXPECT_EQ(1u, Lines(listed.out).size());
    EXPECT_EQ("quellor-scan: quarantine entry " + bad + " is damaged (--purge " + bad + " removes it)\n", listed.err);
    // Named by its id, the damaged entry can go.
    Outcome purged = RunScanner({"--quarantine", store.Path(), "--purge", bad});
    EXPECT_EQ(kExitClean, purged.status);
    EXPECT_EQ("Removed quarantine entry " + bad + " (damaged)\n", purged.out);
    EXPECT_EQ(std::vector<std::string>{good}, StoreIds(store.Path()));
}

TEST(ConsoleQuarantine, EachCommandOpensTheStoreAndClearsWhatInterruptedRunsLeft)
{
    TempFolder tree;
    TempFolder store;
    const std::string kept = RemoveInto(tree, store.Path());
    const std::string copy = ReadFileText(store / (kept + ".QDT"));
    // A copy being written, one whose manifest never came, and a manifest
    // being written without its copy: none is an entry.
    store.Write("0000AAAA.QTD", copy);
    store.Write("0000BBBB.QDT", copy);
    store.Write("0000CCCC.QTM", ReadFileText(store / (kept + ".QMF")));
    Outcome listed = RunScanner({"--quarantine", store.Path(), "--quarantine-list"});
    EXPECT_EQ(kExitClean, listed.status) << listed.err;
    EXPECT_EQ(1u, Lines(listed.out).size());
    EXPECT_EQ("", listed.err);
    for (const char* name : {"0000AAAA.QTD", "0000BBBB.QDT", "0000CCCC.QTM"}) EXPECT_FALSE(Exists(store / name)) << name;
    EXPECT_EQ(std::vector<std::string>{kept}, StoreIds(store.Path()));
}

TEST(ConsoleQuarantine, PurgeRemovesByIdOrByAge)
{
    TempFolder tree;
    TempFolder store;
    const std::string old = RemoveInto(tree, store.Path(), "old.exe");
    const std::string recent = RemoveInto(tree, store.Path(), "recent.exe");
    const std::string other = RemoveInto(tree, store.Path(), "other.exe");
    // The first entry is made 40 days old.
    const std::string manifest = store / (old + ".QMF");
    std::string text = ReadFileText(manifest);
    const std::size_t at = text.find("time=") + 5;
    const long long made = std::stoll(text.substr(at, text.find('\r', at) - at));
    text.replace(at, text.find('\r', at) - at, std::to_string(made - 40 * 86400));
    std::ofstream(manifest, std::ios::binary | std::ios::trunc) << text;

    Outcome byAge = RunScanner({"--quarantine", store.Path(), "--purge-older-than", "30"});
    EXPECT_EQ(kExitClean, byAge.status) << byAge.err;
    EXPECT_EQ("Removed 1 entry older than 30 days from the quarantine\n", byAge.out);
    EXPECT_EQ((std::vector<std::string>{recent, other}), StoreIds(store.Path()));
    EXPECT_FALSE(Exists(store / (old + ".QDT")));

    Outcome byId = RunScanner({"--quarantine", store.Path(), "--purge", other});
    EXPECT_EQ(kExitClean, byId.status);
    EXPECT_EQ("Removed quarantine entry " + other + " (" + (tree / "other.exe") + ")\n", byId.out);
    EXPECT_EQ(std::vector<std::string>{recent}, StoreIds(store.Path()));
}

TEST(ConsoleQuarantine, OptionsOfTheQuarantineAndTheirUsageErrors)
{
    struct Row {
        std::vector<const char*> argv;
        bool valid;
        ConsoleCommand command;
        const char* error;  // a part of the reason given
    } const rows[] = {
        {{"x", "--quarantine-list"}, true, CommandListQuarantine, ""},
        {{"x", "--restore", "0a0b0c0d", "--to", "p"}, true, CommandRestore, ""},
        {{"x", "--purge", "0A0B0C0D"}, true, CommandPurge, ""},
        {{"x", "--purge-older-than", "30"}, true, CommandPurgeOlderThan, ""},
        {{"x", "--remove", "--quarantine", "q", "a"}, true, CommandScan, ""},
        {{"x", "--restore"}, false, CommandScan, "--restore needs an entry's ID"},
        {{"x", "--quarantine"}, false, CommandScan, "--quarantine needs a folder"},
        {{"x", "--restore", "0A0B0C0D", "--purge", "0A0B0C0D"}, false, CommandScan, "cannot be used together"},
        {{"x", "--restore", "0A0B0C0D", "a"}, false, CommandScan, "takes no folder or file"},
        {{"x", "--purge", "0A0B0C0D", "--remove"}, false, CommandScan, "cannot be used with --remove"},
        {{"x", "--to", "p", "a"}, false, CommandScan, "--to is used only with --restore"},
        {{"x", "--purge", "0A0B0C0D", "--to", "p"}, false, CommandScan, "--to is used only with --restore"},
        {{"x", "--restore", "0A0B0C0D", "--json"}, false, CommandScan, "--json is for scans and --quarantine-list"},
        {{"x", "--no-quarantine", "--quarantine", "q", "a"}, false, CommandScan, "cannot be used together"},
        {{"x", "--purge-older-than", "1000001"}, false, CommandScan, "is not a number of days"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argv[1]);
        ConsoleOptions options;
        std::string error;
        EXPECT_EQ(row.valid, ParseConsoleArguments(static_cast<int>(row.argv.size()), row.argv.data(), options, error));
        EXPECT_NE(std::string::npos, error.find(row.error)) << error;
        if (row.valid) {
            EXPECT_EQ(row.command, options.command);
        }
    }
    ConsoleOptions options;
    std::string error;
    const char* const lower[] = {"x", "--restore", "0a0b0c0d"};
    ASSERT_TRUE(ParseConsoleArguments(3, lower, options, error));
    EXPECT_EQ("0A0B0C0D", options.entry);
}

TEST(ConsoleQuarantine, DatesAreWrittenInUtc)
{
    struct Row {
        std::int64_t seconds;
        const char* text;
    } const rows[] = {
        {0, "1970-01-01 00:00:00"},
        {951782400, "2000-02-29 00:00:00"},
        {1700000000, "2023-11-14 22:13:20"},
        {4107542399, "2100-02-28 23:59:59"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.text, UtcText(row.seconds));
}

}  // namespace
