// quellor-scan run as a program over real files in scratch folders: its
// arguments, exit statuses, text and JSON output, missing, unreadable and
// too-deep paths, links that lead back up the tree, and a detection under
// each action.
//
// The cases about unreadable files need an account that permissions apply
// to: when the tests run as the superuser (who reads everything), the
// scanner is run under the "nobody" account (uid 65534) for them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "console/ScannerRun.h"
#include "console/TempFolder.h"
#include "fixtures/InfectedFiles.h"
#include "scan/BinaryExamination.h"
#include "scan/SignatureRecord.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string Statistics(int scanned, int infected, int removed)
{
    std::string block = infected > 0 ? " \n" : "";
    block += "Scanning statistics\n------------------------------\n";
    block += "Total files scanned\t\t:  " + std::to_string(scanned) + "\n";
    block += "Total files infected\t\t:  " + std::to_string(infected) + "\n";
    block += "Total files removed\t\t:  " + std::to_string(removed) + "\n";
    return block;
}

// The detection lines of a text output (everything before the statistics).
std::vector<std::string> DetectionLines(const std::string& out)
{
    std::vector<std::string> found;
    for (const std::string& line : Lines(out)) {
        if (line == " " || line == "Scanning statistics") break;
        found.push_back(line);
    }
    return found;
}

// Row 3 of the signature table and row 1 of the archived-worm table.
const char kPeThreat[] = "W32/Murkel.A.Trojan";
const char kZipThreat[] = "W32/Bagle.C.Worm";
std::string InfectedPe()
{
    return infected::SignaturePe(SignatureTable[2]);
}
std::string InfectedZip()
{
    return infected::WormZip(ArchiveWormTable[0], 12000);
}

// ------------------------------------------------------------ arguments

TEST(ConsoleArguments, OptionsSelectTheActionAndTheOutput)
{
    struct Row {
        std::vector<const char*> argv;
        bool valid;
        std::int32_t action;
        bool memory, quiet, json;
        std::vector<std::string> targets;
    } const rows[] = {
        {{"x", "dir"}, true, kActionReportOnly, true, false, false, {"dir"}},
        {{"x", "--remove", "a", "b"}, true, kActionDelete, true, false, false, {"a", "b"}},
        {{"x", "a", "--rename"}, true, kActionRename, true, false, false, {"a"}},
        {{"x", "--no-memory", "--quiet", "--json", "a"}, true, kActionReportOnly, false, true, true, {"a"}},
        {{"x", "--", "--remove", "-"}, true, kActionReportOnly, true, false, false, {"--remove", "-"}},
        {{"x", "--remove", "--rename", "a"}, false, 0, false, false, false, {}},
        {{"x", "--delete", "a"}, false, 0, false, false, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argv.size() > 1 ? row.argv[1] : "");
        ConsoleOptions options;
        std::string error;
        ASSERT_EQ(row.valid, ParseConsoleArguments(static_cast<int>(row.argv.size()), row.argv.data(), options, error));
        if (!row.valid) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(row.action, options.action);
        EXPECT_EQ(row.memory, options.memory);
        EXPECT_EQ(row.quiet, options.quiet);
        EXPECT_EQ(row.json, options.json);
        EXPECT_EQ(row.targets, options.targets);
    }
}

TEST(ConsoleProgram, UsageVersionAndUsageErrors)
{
    TempFolder tree;
    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    } const rows[] = {
        {{"--version"}, kExitClean, "quellor-scan 7.0\n", ""},
        {{"--help"}, kExitClean, ConsoleUsage(ConsoleOnLinux), ""},
        {{}, kExitTrouble, "", "quellor-scan: name a folder or file to scan (--help for usage)\n"},
        {{"--bogus", tree.Path()}, kExitTrouble, "",
         "quellor-scan: unknown option '--bogus'\nTry 'quellor-scan --help'.\n"},
        {{"--remove", "--rename", tree.Path()}, kExitTrouble, "",
         "quellor-scan: --remove and --rename cannot be used together\nTry 'quellor-scan --help'.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.empty() ? "(none)" : row.arguments[0]);
        Outcome outcome = RunScanner(row.arguments);
        EXPECT_EQ(row.status, outcome.status);
        EXPECT_EQ(row.out, outcome.out);
        EXPECT_EQ(row.err, outcome.err);
    }
}

TEST(ConsoleProgram, MissingFolderIsNamedAndNothingIsTouched)
{
    TempFolder tree;
    const std::string infected = tree.Write("good/setup.exe", InfectedPe());
    const std::string missing = tree / "missing";
    Outcome outcome = RunScanner({"--remove", tree / "good", missing});
    EXPECT_EQ(kExitTrouble, outcome.status);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("quellor-scan: cannot scan '" + missing + "': No such file or directory\n", outcome.err);
    EXPECT_EQ(InfectedPe(), ReadFileText(infected));
}

TEST(ConsoleProgram, CleanTreeExitsZeroAndSaysWhatIsNotAvailable)
{
    TempFolder tree;
    tree.Write("a.txt", "text");
    tree.Write("sub/b.exe", "MZ not really");
    Outcome full = RunScanner({tree.Path()});
    EXPECT_EQ(kExitClean, full.status);
    EXPECT_EQ("Not available on this system: memory, registry, services (files only)\n" + Statistics(2, 0, 0) +
                  "Scanning completed\n",
              full.out);
    EXPECT_EQ("", full.err);

    Outcome quiet = RunScanner({"--quiet", tree.Path()});
    EXPECT_EQ(kExitClean, quiet.status);
    EXPECT_EQ(Statistics(2, 0, 0), quiet.out);
}

// ------------------------------------------------------------ actions

struct ActionRow {
    const char* name;
    std::vector<std::string> flags;
    const char* outcome;          // the end of each detection line
    int removed;
    const char* peAfter;          // where the executable is afterwards, "" when gone
    const char* zipAfter;
};

void PrintTo(const ActionRow& row, std::ostream* out)
{
    *out << row.name;
}

class ConsoleAction : public ::testing::TestWithParam<ActionRow> {};

TEST_P(ConsoleAction, DetectionsAreHandledAsAsked)
{
    const ActionRow& row = GetParam();
    TempFolder tree;
    const std::string pe = tree.Write("sub/setup.exe", InfectedPe());
    // Read-only, so a removal has to reset the attribute first.
    chmod(pe.c_str(), 0444);
    tree.Write("mail/photos.zip", InfectedZip());
    tree.Write("clean.txt", "nothing here");

    std::vector<std::string> arguments = row.flags;
    arguments.push_back("--quiet");
    arguments.push_back(tree.Path());
    Outcome outcome = RunScanner(arguments);

    EXPECT_EQ(kExitFound, outcome.status);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(Sorted({tree / "mail/photos.zip" + "     " + kZipThreat + " " + row.outcome,
                      tree / "sub/setup.exe" + "     " + kPeThreat + " " + row.outcome}),
              Sorted(DetectionLines(outcome.out)));
    const std::string out = outcome.out;
    const std::string statistics = Statistics(3, 2, row.removed);
    ASSERT_GE(out.size(), statistics.size());
    EXPECT_EQ(statistics, out.substr(out.size() - statistics.size()));

    EXPECT_EQ(std::string(row.peAfter) == "sub/setup.exe", Exists(pe));
    if (*row.peAfter) {
        EXPECT_EQ(InfectedPe(), ReadFileText(tree / row.peAfter));
    }
    if (*row.zipAfter) {
        EXPECT_EQ(InfectedZip(), ReadFileText(tree / row.zipAfter));
    } else {
        EXPECT_FALSE(Exists(tree / "mail/photos.zip"));
    }
    EXPECT_EQ("nothing here", ReadFileText(tree / "clean.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    EachAction, ConsoleAction,
    ::testing::Values(
        ActionRow{"ReportOnlyByDefault", {}, "not disinfected as per user's selection", 0, "sub/setup.exe",
                  "mail/photos.zip"},
        ActionRow{"Remove", {"--remove"}, "removed", 2, "", ""},
        ActionRow{"Rename", {"--rename"}, "renamed", 0, "sub/setup.Vxe", "mail/photos.Vip"}),
    [](const ::testing::TestParamInfo<ActionRow>& info) { return std::string(info.param.name); });

TEST(ConsoleProgram, FileThatCannotBeRemovedIsReportedAndStays)
{
    TempFolder tree;
    const std::string pe = tree.Write("locked/setup.exe", InfectedPe());
    GiveToUnprivileged(tree / "locked");
    chmod((tree / "locked").c_str(), 0555);
    RunOptions how;
    how.unprivileged = true;
    Outcome outcome = RunScanner({"--remove", "--quiet", tree.Path()}, how);
    // No delayed deletion here, so no restart either: found, not removed.
    EXPECT_EQ(kExitFound, outcome.status);
    EXPECT_EQ((std::vector<std::string>{pe + "     " + kPeThreat + " Unable to remove"}), DetectionLines(outcome.out));
    EXPECT_TRUE(Exists(pe));
}

TEST(ConsoleProgram, PathsAreShownAsTheUserNamedThem)
{
    TempFolder tree;
    tree.Write("sub/setup.exe", InfectedPe());
    RunOptions here;
    here.folder = tree.Path();
    struct Row {
        std::string named;
        std::string shown;
    } const rows[] = {
        {".", "./sub/setup.exe"},
        {"sub/", "sub/setup.exe"},
        {"sub", "sub/setup.exe"},
        {"sub/setup.exe", "sub/setup.exe"},
        {tree.Path() + "/", tree / "sub/setup.exe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.named);
        Outcome outcome = RunScanner({"--quiet", row.named}, here);
        EXPECT_EQ(kExitFound, outcome.status);
        EXPECT_EQ((std::vector<std::string>{row.shown + "     " + kPeThreat + " not disinfected as per user's selection"}),
                  DetectionLines(outcome.out));
    }
}

// ------------------------------------------------------------ JSON

// A JSON string literal read back as a reader of the documented form does:
// escapes decoded, U+DC80 to U+DCFF taken as the single bytes 0x80 to 0xFF,
// every other character written in UTF-8. Empty with `valid` false for
// text that is no literal or holds a control character or a lone surrogate
// of any other kind.
std::string ReadJsonString(const std::string& literal, bool& valid)
{
    valid = false;
    std::string out;
    if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return out;
    auto put = [&out](unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    };
    for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(literal[i]);
        if (c < 0x20 || c == 0x7F) return std::string();  // raw control
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        const char kind = literal[++i];
        if (kind == '"' || kind == '\\' || kind == '/') {
            out += kind;
            continue;
        }
        if (kind != 'u' || i + 4 >= literal.size()) return std::string();
        const unsigned code = static_cast<unsigned>(std::stoul(literal.substr(i + 1, 4), nullptr, 16));
        i += 4;
        if (code >= 0xDC80 && code <= 0xDCFF) {
            out += static_cast<char>(code - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            return std::string();
        } else {
            put(code);
        }
    }
    valid = true;
    return out;
}

TEST(ConsoleJson, NamesAreEscapedLosslesslyAndNoByteReadsBackAsAnotherCharacter)
{
    struct Row {
        std::string text;
        std::string json;
    } const rows[] = {
        {"plain/path.exe", "\"plain/path.exe\""},
        {"quote\"back\\slash", "\"quote\\\"back\\\\slash\""},
        {"tab\tnew\nline\r\x1B[2J\x7F", "\"tab\\u0009new\\u000aline\\u000d\\u001b[2J\\u007f\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        // A byte that is no part of UTF-8 becomes a lone low surrogate, which
        // no UTF-8 name holds: 0xE9 alone is not U+00E9.
        {"caf\xE9", "\"caf\\udce9\""},
        {"bad\xFF" "byte", "\"bad\\udcffbyte\""},
        {"cut\xC3", "\"cut\\udcc3\""},
        {"overlong\xC0\xAF", "\"overlong\\udcc0\\udcaf\""},
        {"surrogate\xED\xA0\x80", "\"surrogate\\udced\\udca0\\udc80\""},
        // C1 controls (CSI among them) and the line separators, written in
        // UTF-8, are escaped too: no terminal or script reader acts on them.
        {"csi\xC2\x9B" "2J", "\"csi\\u009b2J\""},
        {"nel\xC2\x85", "\"nel\\u0085\""},
        {"ls\xE2\x80\xA8ps\xE2\x80\xA9", "\"ls\\u2028ps\\u2029\""},
        {"emoji\xF0\x9F\x98\x80", "\"emoji\xF0\x9F\x98\x80\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        EXPECT_EQ(row.json, JsonString(row.text));
        bool valid = false;
        EXPECT_EQ(row.text, ReadJsonString(JsonString(row.text), valid));
        EXPECT_TRUE(valid);
    }
    // Every name of one or two bytes, and each byte after a valid prefix,
    // reads back as itself: two names never share a JSON form.
    std::string prefixes[] = {"", "\xC3\xA9", "\xE2\x82", "\xF0\x9F\x98"};
    for (const std::string& prefix : prefixes) {
        for (int first = 1; first < 256; ++first) {
            for (int second = 0; second < 256; second += prefix.empty() ? 1 : 255) {
                std::string name = prefix + static_cast<char>(first);
                if (second) name += static_cast<char>(second);
                bool valid = false;
                const std::string back = ReadJsonString(JsonString(name), valid);
                ASSERT_TRUE(valid && back == name) << JsonString(name);
            }
        }
    }
}

TEST(ConsoleJson, OneObjectPerDetectionAndOneSummary)
{
    TempFolder tree;
    tree.Write("setup.exe", InfectedPe());
    tree.Write("odd\xFFname.exe", InfectedPe());
    tree.Write("clean.txt", "clean");
    TempFolder store;
    Outcome outcome = RunScanner({"--json", "--remove", "--quarantine", store.Path(), tree.Path()});
    EXPECT_EQ(kExitFound, outcome.status);
    std::vector<std::string> lines = Lines(outcome.out);
    ASSERT_EQ(3u, lines.size());
    auto detection = [&](const std::string& shown) {
        const std::string line = shown + "     " + kPeThreat + " removed";
        return "{\"type\":\"detection\",\"path\":\"" + shown + "\",\"threat\":\"" + kPeThreat +
               "\",\"outcome\":\"removed\",\"quarantine\":\"kept\",\"quarantineId\":\"ID\",\"line\":\"" +
               line + "\"}";
    };
    // Each object names the entry its file was kept as.
    const std::regex id("\"quarantineId\":\"([0-9A-F]{8})\"");
    std::vector<std::string> ids;
    for (int i = 0; i < 2; ++i) {
        std::smatch found;
        if (std::regex_search(lines[i], found, id)) ids.push_back(found[1]);
    }
    ASSERT_EQ(2u, ids.size());
    for (const std::string& kept : ids) EXPECT_TRUE(Exists(store / (kept + ".QMF"))) << kept;
    EXPECT_EQ(Sorted({detection(tree / "odd\\udcffname.exe"), detection(tree / "setup.exe")}),
              Sorted({std::regex_replace(lines[0], id, "\"quarantineId\":\"ID\""),
                      std::regex_replace(lines[1], id, "\"quarantineId\":\"ID\"")}));
    EXPECT_EQ("{\"type\":\"summary\",\"scanned\":3,\"infected\":2,\"removed\":2,\"problems\":0,\"notQuarantined\":0,"
              "\"completed\":true,\"restartNeeded\":false,\"memoryScanned\":false,"
              "\"notAvailable\":[\"memory\",\"registry\",\"services\"],\"exitStatus\":1}",
              lines[2]);
    EXPECT_FALSE(Exists(tree / "odd\xFFname.exe"));
}

// ------------------------------------------------------------ trouble on the way

TEST(ConsoleProgram, UnreadableFilesAndFoldersAreReportedOnceEach)
{
    const bool superuser = geteuid() == 0;
    if (superuser) {
        std::printf("note: running as the superuser; the scanner runs as uid %u for this case\n", kNobody);
    }
    TempFolder tree;
    tree.Write("locked/inside.exe", InfectedPe());
    tree.Write("secret.exe", InfectedPe());
    tree.Write("open.txt", "open");
    chmod((tree / "locked").c_str(), 0);
    chmod((tree / "secret.exe").c_str(), 0);
    RunOptions how;
    how.unprivileged = true;

    Outcome outcome = RunScanner({"--quiet", tree.Path()}, how);
    EXPECT_EQ(kExitTrouble, outcome.status);
    EXPECT_EQ(Sorted({"quellor-scan: " + (tree / "locked") + ": cannot read: Permission denied",
                      "quellor-scan: " + (tree / "secret.exe") + ": cannot read: Permission denied"}),
              Sorted(Lines(outcome.err)));
    EXPECT_EQ(Statistics(2, 0, 0), outcome.out);

    // A detection elsewhere still decides the status.
    tree.Write("found/setup.exe", InfectedPe());
    Outcome found = RunScanner({"--quiet", tree.Path()}, how);
    EXPECT_EQ(kExitFound, found.status);
    EXPECT_EQ(2u, Lines(found.err).size());
}

TEST(ConsoleProgram, LinksAreNotFollowedAndLoopsEnd)
{
    TempFolder tree;
    TempFolder elsewhere;
    const std::string outside = elsewhere.Write("infected/setup.exe", InfectedPe());
    tree.Write("a/one.txt", "1");
    tree.Write("a/b/two.txt", "2");
    ASSERT_EQ(0, symlink("..", (tree / "a/b/up").c_str()));
    ASSERT_EQ(0, symlink(".", (tree / "self").c_str()));
    ASSERT_EQ(0, symlink((elsewhere / "infected").c_str(), (tree / "a/away").c_str()));
    ASSERT_EQ(0, symlink(outside.c_str(), (tree / "a/linked.exe").c_str()));

    Outcome outcome = RunScanner({"--remove", "--quiet", tree.Path()});
    EXPECT_EQ(kExitClean, outcome.status);
    EXPECT_EQ("", outcome.err);
    // Two files and the link to a file are listed; no link is entered.
    EXPECT_EQ(Statistics(3, 0, 0), outcome.out);
    EXPECT_EQ(InfectedPe(), ReadFileText(outside));
}

TEST(ConsoleProgram, PathsTooDeepForTheScannerAreReportedOnceAndSkipped)
{
    TempFolder tree;
    // Each level adds 51 characters to the engine's "C:\\..." path; the
    // fifth folder would need 258 plus the walk's "\\*.*".
    const std::string level(50, 'd');
    const std::string four = level + "/" + level + "/" + level + "/" + level;
    const std::string reachable = tree.Write(four + "/setup.exe", InfectedPe());
    tree.Write(four + "/" + level + "/deeper.exe", InfectedPe());
    tree.Write("name\\with backslash.exe", InfectedPe());

    Outcome outcome = RunScanner({"--quiet", tree.Path()});
    EXPECT_EQ(kExitFound, outcome.status);
    EXPECT_EQ((std::vector<std::string>{reachable + "     " + kPeThreat + " not disinfected as per user's selection"}),
              DetectionLines(outcome.out));
    EXPECT_EQ(Sorted({"quellor-scan: " + (tree / (four + "/" + level)) + ": skipped: path too long for the scanner",
                      "quellor-scan: " + (tree / "name\\with backslash.exe") + ": skipped: its name holds a backslash"}),
              Sorted(Lines(outcome.err)));
}

}  // namespace

// ------------------------------------------------------------ hostile trees

// What an attacker can make of a tree on the real file system: very many
// files, files larger than any 32-bit length (sparse, so the test stays
// small on disk), and a name that is no valid text in any encoding. Every
// file is counted once, nothing overruns, the huge files (which no record's
// length rule can accept) stay untouched, and the infected file under the
// odd name is found and removed by that name.
TEST(ConsoleProgram, HostileTreeIsWalkedOnceWithHonestCountsAndRightResults)
{
    TempFolder tree;
    const int kFolders = 4;
    const int kFilesPerFolder = 25000;
    for (int folder = 0; folder < kFolders; ++folder) {
        const std::string path = tree / ("many" + std::to_string(folder));
        ASSERT_EQ(0, mkdir(path.c_str(), 0755));
        for (int file = 0; file < kFilesPerFolder; ++file) {
            const std::string name = path + "/f" + std::to_string(file);
            int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(fd, 0) << name;
            close(fd);
        }
    }
    struct Huge {
        const char* name;
        off_t size;
    } const huge[] = {
        {"three-gib.exe", off_t(3) << 30},
        // Its length cut to 32 bits would be the infected sample's own.
        {"four-gib-and-a-sample.exe", (off_t(4) << 30) + static_cast<off_t>(InfectedPe().size())},
    };
    for (const Huge& file : huge) {
        const std::string path = tree.Write(file.name, InfectedPe());
        ASSERT_EQ(0, truncate(path.c_str(), file.size)) << path;
    }
    const std::string oddName = tree.Write("\xE9t\xE9\xFF.exe", InfectedPe());

    Outcome outcome = RunScanner({"--remove", "--quiet", tree.Path()});

    EXPECT_EQ(kExitFound, outcome.status) << outcome.err;
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ((std::vector<std::string>{oddName + "     " + kPeThreat + " removed"}), DetectionLines(outcome.out));
    const std::string statistics = Statistics(kFolders * kFilesPerFolder + 3, 1, 1);
    ASSERT_GE(outcome.out.size(), statistics.size());
    EXPECT_EQ(statistics, outcome.out.substr(outcome.out.size() - statistics.size()));
    EXPECT_FALSE(Exists(oddName));
    for (const Huge& file : huge) {
        struct stat st;
        ASSERT_EQ(0, stat((tree / file.name).c_str(), &st));
        EXPECT_EQ(file.size, st.st_size) << file.name;
    }
}
