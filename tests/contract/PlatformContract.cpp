#include "contract/PlatformContract.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <vector>

#include "platform/AnsiText.h"

const char* const kContractRegistryKey = "Software\\QuellorContract";

namespace {

// ------------------------------------------------------------ checking

template <typename A, typename B>
typename std::enable_if<std::is_integral<A>::value && std::is_integral<B>::value, bool>::type Same(A a, B b)
{
    // Every value the cases compare fits a long long, whichever its type.
    return static_cast<long long>(a) == static_cast<long long>(b);
}

bool Same(const std::string& a, const std::string& b)
{
    return a == b;
}

bool Same(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    return a == b;
}

template <typename T>
typename std::enable_if<std::is_integral<T>::value, std::string>::type Describe(T value)
{
    if (std::is_same<T, bool>::value) return value ? "true" : "false";
    if (std::is_signed<T>::value) return std::to_string(static_cast<long long>(value));
    return std::to_string(static_cast<unsigned long long>(value));
}

std::string Describe(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out + "\"";
}

std::string Describe(const std::vector<std::string>& names)
{
    std::string out = "{";
    for (std::size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + Describe(names[i]);
    return out + "}";
}

#define CONTRACT_TRUE(condition) \
    do { if (!(condition)) check.Fail(__FILE__, __LINE__, "expected true: " #condition); } while (0)

#define CONTRACT_FALSE(condition) \
    do { if (condition) check.Fail(__FILE__, __LINE__, "expected false: " #condition); } while (0)

#define CONTRACT_EQ(expected, actual)                                                                    \
    do {                                                                                                 \
        const auto& contractExpected = (expected);                                                       \
        const auto& contractActual = (actual);                                                           \
        if (!Same(contractExpected, contractActual))                                                     \
            check.Fail(__FILE__, __LINE__,                                                               \
                       std::string(#actual " is ") + Describe(contractActual) + ", expected " +          \
                           Describe(contractExpected));                                                  \
    } while (0)

// Stops the case when a step the rest depends on did not happen.
#define CONTRACT_REQUIRE(condition)                                                   \
    do {                                                                              \
        if (!(condition)) {                                                           \
            check.Fail(__FILE__, __LINE__, "required: " #condition);                  \
            return;                                                                   \
        }                                                                             \
    } while (0)

// Ends the case as skipped: what follows cannot be shown here.
#define CONTRACT_SKIP(reason)  \
    do {                       \
        check.Skip(reason);    \
        return;                \
    } while (0)

// A case is a function named after itself; its files live in a folder of the
// same name under the world's root.
#define CONTRACT_CASE(name)                                       \
    void name(ContractWorld& world, ContractCheck& check);        \
    void name(ContractWorld& world, ContractCheck& check)

// ------------------------------------------------------------ helpers

const std::uint32_t kMissing = 0xFFFFFFFFu;
const char kReadOnlyQuirkReason[] =
    "the read-only attribute does not stop writers here (kept as a file mode, which the superuser ignores)";
// The bits every backend reports the same way. Plain files show as archive on
// some file systems and as normal on others, so that bit is left out.
const std::uint32_t kComparedBits = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory;

std::string Join(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

std::string CaseFolder(ContractWorld& world, const char* caseName)
{
    std::string folder = Join(world.Root(), caseName);
    world.MakeFolder(folder);
    return folder;
}

std::string CaseKey(const char* caseName)
{
    return std::string(kContractRegistryKey) + "\\" + caseName;
}

std::string Upper(std::string text)
{
    for (char& c : text) c = UpperAscii(c);
    return text;
}

struct Listing {
    bool found = false;
    std::vector<DirEntry> entries;
};

Listing List(Platform& platform, const std::string& pattern)
{
    Listing listing;
    DirEntry entry;
    std::memset(&entry, 0, sizeof entry);
    SearchRef search = platform.FindFirstEntry(pattern.c_str(), entry);
    if (search == 0) return listing;
    listing.found = true;
    listing.entries.push_back(entry);
    // Bounded, so a backend that never ends an enumeration fails the case
    // instead of hanging it.
    for (int guard = 0; guard < 1000; ++guard) {
        std::memset(&entry, 0, sizeof entry);
        if (!platform.FindNextEntry(search, entry)) break;
        listing.entries.push_back(entry);
    }
    platform.FindEnd(search);
    return listing;
}

bool IsDotEntry(const DirEntry& entry)
{
    return std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0;
}

// The names of the listing, sorted; the order of ordinary entries is the file
// system's own.
std::vector<std::string> SortedNames(const Listing& listing, bool withDots)
{
    std::vector<std::string> names;
    for (const DirEntry& entry : listing.entries) {
        if (withDots || !IsDotEntry(entry)) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

const DirEntry* Entry(const Listing& listing, const std::string& name)
{
    for (const DirEntry& entry : listing.entries) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

std::string ReadAll(Platform& platform, FileRef file)
{
    std::string content;
    char buffer[64];
    for (int guard = 0; guard < 10000; ++guard) {
        std::int32_t got = platform.ReadBytes(file, buffer, sizeof buffer);
        if (got <= 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

std::string ContentOf(ContractWorld& world, const std::string& path)
{
    std::string content;
    if (!world.ReadContent(path, content)) return "<unreadable>";
    return content;
}

std::int32_t WriteText(Platform& platform, FileRef file, const std::string& text)
{
    return platform.WriteBytes(file, text.data(), static_cast<std::uint32_t>(text.size()));
}

// ------------------------------------------------------------ enumeration

CONTRACT_CASE(FolderListsDotEntriesFirst)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "a.txt"), "a", kAttrArchive);
    world.MakeFolder(Join(dir, "inner"));

    Listing listing = List(world.platform(), Join(dir, "*.*"));
    CONTRACT_REQUIRE(listing.found);
    CONTRACT_REQUIRE(listing.entries.size() >= 2);
    CONTRACT_EQ(std::string("."), std::string(listing.entries[0].name));
    CONTRACT_EQ(std::string(".."), std::string(listing.entries[1].name));
    CONTRACT_EQ(kAttrDirectory, listing.entries[0].attributes & kAttrDirectory);
    CONTRACT_EQ(kAttrDirectory, listing.entries[1].attributes & kAttrDirectory);
    CONTRACT_EQ((std::vector<std::string>{"a.txt", "inner"}), SortedNames(listing, false));
    CONTRACT_EQ(4u, listing.entries.size());

    const DirEntry* inner = Entry(listing, "inner");
    const DirEntry* file = Entry(listing, "a.txt");
    CONTRACT_REQUIRE(inner && file);
    CONTRACT_EQ(kAttrDirectory, inner->attributes & kComparedBits);
    CONTRACT_EQ(0u, file->attributes & kComparedBits);
    CONTRACT_EQ(0u, file->reparseTag);
}

CONTRACT_CASE(EmptyFolderListsOnlyDotEntries)
{
    const std::string dir = CaseFolder(world, __func__);
    Listing listing = List(world.platform(), Join(dir, "*.*"));
    CONTRACT_REQUIRE(listing.found);
    CONTRACT_EQ((std::vector<std::string>{".", ".."}), SortedNames(listing, true));
}

CONTRACT_CASE(DriveRootListsNoDotEntries)
{
    // Windows gives a drive root no "." or ".." entries; the walk must not
    // count on them there.
    const std::string root = world.Root();
    const std::string rootName = root.substr(root.rfind('\\') + 1);
    world.MakeFolder(Join(root, __func__));

    Listing listing = List(world.platform(), world.DriveRoot() + "*.*");
    CONTRACT_REQUIRE(listing.found);
    for (const DirEntry& entry : listing.entries) CONTRACT_FALSE(IsDotEntry(entry));
    const DirEntry* folder = Entry(listing, rootName);
    CONTRACT_REQUIRE(folder != nullptr);
    CONTRACT_EQ(kAttrDirectory, folder->attributes & kComparedBits);
}

CONTRACT_CASE(StarAndStarDotStarListTheSameNames)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "noext"), "n", kAttrArchive);
    world.MakeFile(Join(dir, "with.ext"), "w", kAttrArchive);
    const std::vector<std::string> expected{".", "..", "noext", "with.ext"};
    CONTRACT_EQ(expected, SortedNames(List(world.platform(), Join(dir, "*.*")), true));
    CONTRACT_EQ(expected, SortedNames(List(world.platform(), Join(dir, "*")), true));
}

CONTRACT_CASE(EntriesCarryHiddenSystemAndReadOnly)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "hidden.txt"), "h", kAttrHidden);
    world.MakeFile(Join(dir, "system.txt"), "s", kAttrSystem);
    world.MakeFile(Join(dir, "readonly.txt"), "r", kAttrReadOnly);
    world.MakeFile(Join(dir, "all.txt"), "a", kAttrReadOnly | kAttrHidden | kAttrSystem);
    world.MakeFile(Join(dir, "plain.txt"), "p", kAttrArchive);

    Listing listing = List(world.platform(), Join(dir, "*.*"));
    CONTRACT_EQ((std::vector<std::string>{"all.txt", "hidden.txt", "plain.txt", "readonly.txt", "system.txt"}),
                SortedNames(listing, false));
    struct Expected {
        const char* name;
        std::uint32_t bits;
    } const expected[] = {{"hidden.txt", kAttrHidden},
                          {"system.txt", kAttrSystem},
                          {"readonly.txt", kAttrReadOnly},
                          {"all.txt", kAttrReadOnly | kAttrHidden | kAttrSystem},
                          {"plain.txt", 0}};
    for (const Expected& file : expected) {
        const DirEntry* entry = Entry(listing, file.name);
        CONTRACT_REQUIRE(entry != nullptr);
        CONTRACT_EQ(file.bits, entry->attributes & kComparedBits);
    }
}

CONTRACT_CASE(MissingFolderFindsNothing)
{
    const std::string dir = CaseFolder(world, __func__);
    DirEntry entry;
    CONTRACT_EQ(0u, world.platform().FindFirstEntry(Join(dir, "missing\\*.*").c_str(), entry));
    CONTRACT_EQ(0u, world.platform().FindFirstEntry(Join(dir, "missing\\deeper\\*.*").c_str(), entry));
}

CONTRACT_CASE(PatternMatchingNothingFindsNothing)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "one.txt"), "1", kAttrArchive);
    world.MakeFolder(Join(dir, "sub"));
    DirEntry entry;
    CONTRACT_EQ(0u, world.platform().FindFirstEntry(Join(dir, "*.zzz").c_str(), entry));
    CONTRACT_EQ(0u, world.platform().FindFirstEntry(Join(dir, "absent.txt").c_str(), entry));
}

CONTRACT_CASE(NameDotStarListsOnlyThatName)
{
    // "name.*" matches "name" with any extension, and also "name" without
    // one; never a longer name that merely starts the same way.
    const std::string dir = CaseFolder(world, __func__);
    for (const char* name : {"name.txt", "name.dat", "name", "names.txt", "rename.txt", "other.txt"})
        world.MakeFile(Join(dir, name), name, kAttrArchive);

    Listing listing = List(world.platform(), Join(dir, "name.*"));
    CONTRACT_REQUIRE(listing.found);
    CONTRACT_EQ((std::vector<std::string>{"name", "name.dat", "name.txt"}), SortedNames(listing, true));
}

CONTRACT_CASE(MasksAreWindowsWildcardsNotShellPatterns)
{
    // Only '*' and '?' are wildcards: "[ab]" is three characters of a name,
    // not a set. The dot entries are names like any other for the mask:
    // "?" lists "." (one character) but not "..", and a mask that begins
    // with a letter lists neither.
    const std::string dir = CaseFolder(world, __func__);
    for (const char* name : {"[ab].txt", "a.txt", "b.txt", "x"}) world.MakeFile(Join(dir, name), name, kAttrArchive);

    auto listed = [&](const char* mask) { return SortedNames(List(world.platform(), Join(dir, mask)), true); };
    CONTRACT_EQ((std::vector<std::string>{"[ab].txt"}), listed("[ab].txt"));
    CONTRACT_EQ((std::vector<std::string>{"[ab].txt"}), listed("[ab].*"));
    CONTRACT_EQ((std::vector<std::string>{".", "x"}), listed("?"));
    CONTRACT_EQ((std::vector<std::string>{"a.txt"}), listed("a*"));
}

CONTRACT_CASE(ExactFilePathFindsThatFile)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "only.txt"), "o", kAttrArchive);
    world.MakeFile(Join(dir, "only.txt.bak"), "b", kAttrArchive);
    world.MakeFile(Join(dir, "other.txt"), "x", kAttrArchive);

    Listing listing = List(world.platform(), Join(dir, "only.txt"));
    CONTRACT_REQUIRE(listing.found);
    CONTRACT_EQ((std::vector<std::string>{"only.txt"}), SortedNames(listing, true));
    CONTRACT_EQ(0u, listing.entries[0].attributes & kAttrDirectory);
}

CONTRACT_CASE(ExactFolderPathFindsTheFolderItself)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFolder(Join(dir, "sub"));
    world.MakeFile(Join(dir, "sub\\inside.txt"), "i", kAttrArchive);

    Listing listing = List(world.platform(), Join(dir, "sub"));
    CONTRACT_REQUIRE(listing.found);
    CONTRACT_EQ((std::vector<std::string>{"sub"}), SortedNames(listing, true));
    CONTRACT_EQ(kAttrDirectory, listing.entries[0].attributes & kAttrDirectory);
}

CONTRACT_CASE(PatternWithTrailingBackslashFindsNothing)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFolder(Join(dir, "sub"));
    DirEntry entry;
    CONTRACT_EQ(0u, world.platform().FindFirstEntry((Join(dir, "sub") + "\\").c_str(), entry));
}

CONTRACT_CASE(FindIgnoresCaseAndKeepsStoredName)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "Mixed.Txt"), "m", kAttrArchive);

    Listing exact = List(world.platform(), Upper(Join(dir, "mixed.txt")));
    CONTRACT_REQUIRE(exact.found);
    CONTRACT_EQ((std::vector<std::string>{"Mixed.Txt"}), SortedNames(exact, true));

    Listing wildcard = List(world.platform(), Upper(Join(dir, "mIX*.*")));
    CONTRACT_EQ((std::vector<std::string>{"Mixed.Txt"}), SortedNames(wildcard, true));
}

// ------------------------------------------------------------ opening and reading

CONTRACT_CASE(OpeningMissingFileGivesNoFile)
{
    const std::string dir = CaseFolder(world, __func__);
    Platform& platform = world.platform();
    const std::string path = Join(dir, "missing.txt");
    CONTRACT_EQ(kNoFile, platform.OpenForRead(path.c_str()));
    CONTRACT_EQ(kNoFile, platform.OpenForWrite(path.c_str()));
    CONTRACT_EQ(kNoFile, platform.OpenForRead(Join(dir, "nofolder\\file.txt").c_str()));
    // Opening for writing does not create the file.
    CONTRACT_FALSE(world.Exists(path));
}

// A long name that lost characters to the ANSI code page comes back with
// '?' in their place; such a name must open and remove nothing, even when a
// file matches it as a wildcard.
CONTRACT_CASE(WildcardCharactersNameNoFile)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "a1.txt"), "a", kAttrArchive);
    Platform& platform = world.platform();
    CONTRACT_EQ(kNoFile, platform.OpenForRead(Join(dir, "a?.txt").c_str()));
    CONTRACT_EQ(kNoFile, platform.OpenForRead(Join(dir, "a*.txt").c_str()));
    CONTRACT_FALSE(platform.RemoveFile(Join(dir, "a?.txt").c_str()));
    CONTRACT_EQ(std::string("a"), ContentOf(world, Join(dir, "a1.txt")));
}

// A long name the code page cannot spell exactly is listed with '?' for
// each character it cannot spell, never with a look-alike: the system's
// own conversion gives "\u0100pple.exe" as "Apple.exe" (another file of
// the folder), two fullwidth full stops as ".." (the parent) and a division
// slash as '/'. The short name listed beside it opens it.
CONTRACT_CASE(ForeignNamesAreListedWithQuestionMarksAndOpenByTheirShortNames)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "Apple.exe"), "plain", kAttrArchive);
    const struct {
        std::u16string name;
        std::string listed;  // also the file's content
    } rows[] = {
        {u"\u0100pple.exe", "?pple.exe"},
        {u"\uFF0E\uFF0E", "??"},
        {u"x\u2215y.exe", "x?y.exe"},
        {u"\u66F8\u985E.txt", "??.txt"},
    };
    for (const auto& row : rows) {
        if (!world.MakeForeignNamedFile(dir, row.name, row.listed))
            CONTRACT_SKIP("names here are bytes taken as they are, so every name is spelled exactly");
    }
    Platform& platform = world.platform();
    const Listing listing = List(platform, Join(dir, "*.*"));
    CONTRACT_EQ((std::vector<std::string>{".", "..", "??", "??.txt", "?pple.exe", "Apple.exe", "x?y.exe"}),
                SortedNames(listing, true));
    for (const auto& row : rows) {
        for (const DirEntry& entry : listing.entries) {
            if (row.listed != entry.name) continue;
            CONTRACT_EQ(kNoFile, platform.OpenForRead(Join(dir, entry.name).c_str()));
            CONTRACT_TRUE(entry.shortName[0] != '\0');
            FileRef file = platform.OpenForRead(Join(dir, entry.shortName).c_str());
            CONTRACT_TRUE(file != kNoFile);
            if (file == kNoFile) continue;
            char content[16] = "";
            const std::int32_t got = platform.ReadBytes(file, content, sizeof content);
            platform.CloseFile(file);
            CONTRACT_EQ(row.listed, std::string(content, got > 0 ? static_cast<std::size_t>(got) : 0));
        }
    }
    CONTRACT_EQ(std::string("plain"), ContentOf(world, Join(dir, "Apple.exe")));
}

CONTRACT_CASE(OpeningFolderGivesNoFile)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFolder(Join(dir, "sub"));
    CONTRACT_EQ(kNoFile, world.platform().OpenForRead(Join(dir, "sub").c_str()));
    CONTRACT_EQ(kNoFile, world.platform().OpenForWrite(Join(dir, "sub").c_str()));
}

CONTRACT_CASE(ReadStopsShortAtTheEnd)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "hello.txt");
    world.MakeFile(path, "hello world", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForRead(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    char buffer[100];
    CONTRACT_EQ(5, platform.ReadBytes(file, buffer, 5));
    CONTRACT_EQ(std::string("hello"), std::string(buffer, 5));
    CONTRACT_EQ(6, platform.ReadBytes(file, buffer, sizeof buffer));
    CONTRACT_EQ(std::string(" world"), std::string(buffer, 6));
    CONTRACT_EQ(0, platform.ReadBytes(file, buffer, sizeof buffer));
    CONTRACT_EQ(11, platform.FileLength(file));
    platform.CloseFile(file);
}

CONTRACT_CASE(SeekRulesOfTheRuntime)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "data.bin");
    world.MakeFile(path, "0123456789", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForRead(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    char buffer[16];
    CONTRACT_EQ(4, platform.SeekTo(file, 4, SeekFromStart));
    // A seek that would end before the start fails and leaves the position.
    CONTRACT_EQ(-1, platform.SeekTo(file, -1, SeekFromStart));
    CONTRACT_EQ(-1, platform.SeekTo(file, -5, SeekFromCurrent));
    CONTRACT_EQ(-1, platform.SeekTo(file, -11, SeekFromEnd));
    CONTRACT_EQ(4, platform.SeekTo(file, 0, SeekFromCurrent));
    CONTRACT_EQ(2, platform.ReadBytes(file, buffer, 2));
    CONTRACT_EQ(std::string("45"), std::string(buffer, 2));

    CONTRACT_EQ(7, platform.SeekTo(file, -3, SeekFromEnd));
    CONTRACT_EQ(3, platform.ReadBytes(file, buffer, sizeof buffer));
    CONTRACT_EQ(std::string("789"), std::string(buffer, 3));

    // Past the end is a valid position; reading there gives nothing and the
    // length does not change.
    CONTRACT_EQ(20, platform.SeekTo(file, 20, SeekFromStart));
    CONTRACT_EQ(0, platform.ReadBytes(file, buffer, sizeof buffer));
    CONTRACT_EQ(17, platform.SeekTo(file, -3, SeekFromCurrent));
    CONTRACT_EQ(10, platform.FileLength(file));
    CONTRACT_EQ(0, platform.SeekTo(file, -10, SeekFromEnd));
    CONTRACT_EQ(1, platform.ReadBytes(file, buffer, 1));
    CONTRACT_EQ('0', buffer[0]);
    platform.CloseFile(file);
}

CONTRACT_CASE(EmptyFileHasLengthZero)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "empty.txt");
    world.MakeFile(path, "", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForRead(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    char buffer[4];
    CONTRACT_EQ(0, platform.FileLength(file));
    CONTRACT_EQ(0, platform.ReadBytes(file, buffer, sizeof buffer));
    CONTRACT_EQ(0, platform.SeekTo(file, 0, SeekFromEnd));
    platform.CloseFile(file);
}

CONTRACT_CASE(HandlesWorkOnlyTheWayTheyWereOpened)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "data.txt");
    world.MakeFile(path, "abcdef", kAttrArchive);
    Platform& platform = world.platform();
    char buffer[8];

    FileRef reader = platform.OpenForRead(path.c_str());
    CONTRACT_REQUIRE(reader != kNoFile);
    CONTRACT_EQ(-1, WriteText(platform, reader, "XY"));
    platform.CloseFile(reader);

    FileRef writer = platform.OpenForWrite(path.c_str());
    CONTRACT_REQUIRE(writer != kNoFile);
    CONTRACT_EQ(-1, platform.ReadBytes(writer, buffer, sizeof buffer));
    platform.CloseFile(writer);

    CONTRACT_EQ(std::string("abcdef"), ContentOf(world, path));
}

CONTRACT_CASE(TwoReadersOfOneFileKeepTheirOwnPositions)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "shared.txt");
    world.MakeFile(path, "abcdef", kAttrArchive);
    Platform& platform = world.platform();

    FileRef first = platform.OpenForRead(path.c_str());
    FileRef second = platform.OpenForRead(path.c_str());
    CONTRACT_REQUIRE(first != kNoFile && second != kNoFile);
    CONTRACT_TRUE(first != second);
    char buffer[8];
    CONTRACT_EQ(4, platform.ReadBytes(first, buffer, 4));
    CONTRACT_EQ(2, platform.ReadBytes(second, buffer, 2));
    CONTRACT_EQ(std::string("ab"), std::string(buffer, 2));
    platform.CloseFile(first);
    platform.CloseFile(second);
}

// ------------------------------------------------------------ writing

CONTRACT_CASE(OpenForWriteOverwritesFromTheStartWithoutTruncating)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "data.txt");
    world.MakeFile(path, "abcdef", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForWrite(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(6, platform.FileLength(file));
    CONTRACT_EQ(2, WriteText(platform, file, "XY"));
    CONTRACT_EQ(2, platform.SeekTo(file, 0, SeekFromCurrent));
    CONTRACT_EQ(6, platform.FileLength(file));
    platform.CloseFile(file);
    CONTRACT_EQ(std::string("XYcdef"), ContentOf(world, path));
}

CONTRACT_CASE(WritingPastTheEndFillsTheGapWithZeros)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "data.txt");
    world.MakeFile(path, "abc", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForWrite(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(5, platform.SeekTo(file, 5, SeekFromStart));
    CONTRACT_EQ(1, WriteText(platform, file, "Z"));
    CONTRACT_EQ(6, platform.FileLength(file));
    platform.CloseFile(file);
    CONTRACT_EQ(std::string("abc\0\0Z", 6), ContentOf(world, path));
}

CONTRACT_CASE(CreateForAppendCreatesAMissingFile)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "new.log");
    Platform& platform = world.platform();

    FileRef file = platform.CreateForAppend(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(0, platform.FileLength(file));
    CONTRACT_EQ(3, WriteText(platform, file, "one"));
    platform.CloseFile(file);
    CONTRACT_EQ(std::string("one"), ContentOf(world, path));
    CONTRACT_EQ(0u, world.AttributesOf(path) & kComparedBits);

    // The folder must exist: nothing is created above the file.
    CONTRACT_EQ(kNoFile, platform.CreateForAppend(Join(dir, "nofolder\\new.log").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "nofolder")));
}

CONTRACT_CASE(CreateForAppendAlwaysWritesAtTheEnd)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "old.log");
    world.MakeFile(path, "abc", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.CreateForAppend(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(3, platform.FileLength(file));
    CONTRACT_EQ(3, WriteText(platform, file, "def"));
    // Even after a seek back to the start, a write goes to the end.
    CONTRACT_EQ(0, platform.SeekTo(file, 0, SeekFromStart));
    CONTRACT_EQ(3, WriteText(platform, file, "ghi"));
    CONTRACT_EQ(9, platform.FileLength(file));
    platform.CloseFile(file);
    CONTRACT_EQ(std::string("abcdefghi"), ContentOf(world, path));
}

CONTRACT_CASE(ReadOnlyFileRefusesWriters)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "locked.txt");
    world.MakeFile(path, "keep", kAttrReadOnly);
    Platform& platform = world.platform();

    FileRef reader = platform.OpenForRead(path.c_str());
    CONTRACT_TRUE(reader != kNoFile);
    if (reader != kNoFile) platform.CloseFile(reader);

    if (world.Quirks() & kQuirkReadOnlyDoesNotStopWriters) CONTRACT_SKIP(kReadOnlyQuirkReason);
    FileRef writer = platform.OpenForWrite(path.c_str());
    CONTRACT_EQ(kNoFile, writer);
    if (writer != kNoFile) platform.CloseFile(writer);
    FileRef appender = platform.CreateForAppend(path.c_str());
    CONTRACT_EQ(kNoFile, appender);
    if (appender != kNoFile) platform.CloseFile(appender);
    CONTRACT_EQ(std::string("keep"), ContentOf(world, path));
}

// ------------------------------------------------------------ paths

CONTRACT_CASE(PathExistsForFilesAndFolders)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "file.txt"), "f", kAttrArchive);
    world.MakeFile(Join(dir, "hidden.txt"), "h", kAttrHidden | kAttrSystem | kAttrReadOnly);
    world.MakeFolder(Join(dir, "sub"));
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.PathExists(Join(dir, "file.txt").c_str()));
    CONTRACT_TRUE(platform.PathExists(Join(dir, "hidden.txt").c_str()));
    CONTRACT_TRUE(platform.PathExists(Join(dir, "sub").c_str()));
    CONTRACT_TRUE(platform.PathExists(dir.c_str()));
    if (!(world.Quirks() & kQuirkCaseSensitiveNames)) {
        CONTRACT_TRUE(platform.PathExists(Upper(Join(dir, "file.txt")).c_str()));
    }
    CONTRACT_FALSE(platform.PathExists(Join(dir, "missing.txt").c_str()));
    CONTRACT_FALSE(platform.PathExists(Join(dir, "missing\\file.txt").c_str()));

    CONTRACT_TRUE(platform.PathReadable(Join(dir, "file.txt").c_str()));
    CONTRACT_TRUE(platform.PathReadable(Join(dir, "hidden.txt").c_str()));
    CONTRACT_TRUE(platform.PathReadable(Join(dir, "sub").c_str()));
    CONTRACT_FALSE(platform.PathReadable(Join(dir, "missing.txt").c_str()));
}

CONTRACT_CASE(TrailingBackslashNamesOnlyAFolder)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "file.txt"), "f", kAttrArchive);
    world.MakeFolder(Join(dir, "sub"));
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.PathExists((Join(dir, "sub") + "\\").c_str()));
    CONTRACT_FALSE(platform.PathExists((Join(dir, "file.txt") + "\\").c_str()));
    CONTRACT_EQ(kNoFile, platform.OpenForRead((Join(dir, "file.txt") + "\\").c_str()));
}

CONTRACT_CASE(PathsIgnoreCase)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "Report.Txt");
    world.MakeFile(path, "content", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForRead(Upper(path).c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(std::string("content"), ReadAll(platform, file));
    platform.CloseFile(file);

    CONTRACT_TRUE(platform.SetAttributes(Upper(path).c_str(), kAttrHidden));
    CONTRACT_EQ(kAttrHidden, world.AttributesOf(path) & kComparedBits);
    CONTRACT_TRUE(platform.RemoveFile(Upper(path).c_str()));
    CONTRACT_FALSE(world.Exists(path));
}

CONTRACT_CASE(DriveTypes)
{
    CONTRACT_EQ(static_cast<int>(DriveFixed), world.platform().QueryDriveType(world.DriveRoot().c_str()));
    CONTRACT_EQ(static_cast<int>(DriveNoRootDir), world.platform().QueryDriveType(world.UnmappedDriveRoot().c_str()));
}

CONTRACT_CASE(PlainFolderIsNoVolumeMountPoint)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFolder(Join(dir, "plain"));
    CONTRACT_FALSE(world.platform().IsVolumeMountPoint(Join(dir, "plain").c_str()));
    CONTRACT_FALSE(world.platform().IsVolumeMountPoint(Join(dir, "missing").c_str()));
}

// ------------------------------------------------------------ attributes and removal

CONTRACT_CASE(SetAttributesToArchiveClearsTheOthers)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "guarded.txt");
    world.MakeFile(path, "g", kAttrReadOnly | kAttrHidden | kAttrSystem);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.SetAttributes(path.c_str(), kAttrArchive));
    CONTRACT_EQ(0u, world.AttributesOf(path) & kComparedBits);
    Listing listing = List(platform, path);
    CONTRACT_REQUIRE(listing.found);
    CONTRACT_EQ(0u, listing.entries[0].attributes & kComparedBits);
    // With read-only gone, removal works.
    CONTRACT_TRUE(platform.RemoveFile(path.c_str()));
    CONTRACT_FALSE(world.Exists(path));
}

CONTRACT_CASE(SetAttributesSetsWhatItIsGiven)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "file.txt");
    world.MakeFile(path, "f", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.SetAttributes(path.c_str(), kAttrHidden | kAttrSystem));
    CONTRACT_EQ(kAttrHidden | kAttrSystem, world.AttributesOf(path) & kComparedBits);
    CONTRACT_TRUE(platform.SetAttributes(path.c_str(), kAttrReadOnly));
    CONTRACT_EQ(kAttrReadOnly, world.AttributesOf(path) & kComparedBits);
    CONTRACT_TRUE(platform.SetAttributes(path.c_str(), kAttrNormal));
    CONTRACT_EQ(0u, world.AttributesOf(path) & kComparedBits);

    // A folder stays a folder.
    world.MakeFolder(Join(dir, "sub"));
    CONTRACT_TRUE(platform.SetAttributes(Join(dir, "sub").c_str(), kAttrHidden));
    CONTRACT_EQ(kAttrDirectory | kAttrHidden, world.AttributesOf(Join(dir, "sub")) & kComparedBits);

    CONTRACT_FALSE(platform.SetAttributes(Join(dir, "missing.txt").c_str(), kAttrArchive));
}

CONTRACT_CASE(RemovingReadOnlyFileFails)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "readonly.txt");
    world.MakeFile(path, "r", kAttrReadOnly);
    CONTRACT_FALSE(world.platform().RemoveFile(path.c_str()));
    CONTRACT_TRUE(world.Exists(path));
    CONTRACT_EQ(std::string("r"), ContentOf(world, path));
}

CONTRACT_CASE(RemovingHiddenSystemFileWorks)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "hidden.sys");
    world.MakeFile(path, "h", kAttrHidden | kAttrSystem);
    CONTRACT_TRUE(world.platform().RemoveFile(path.c_str()));
    CONTRACT_FALSE(world.Exists(path));
    CONTRACT_EQ(kMissing, world.AttributesOf(path));
}

CONTRACT_CASE(RemovingMissingFileOrFolderFails)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFolder(Join(dir, "sub"));
    CONTRACT_FALSE(world.platform().RemoveFile(Join(dir, "missing.txt").c_str()));
    CONTRACT_FALSE(world.platform().RemoveFile(Join(dir, "missing\\file.txt").c_str()));
    // RemoveFile is for files; a folder stays.
    CONTRACT_FALSE(world.platform().RemoveFile(Join(dir, "sub").c_str()));
    CONTRACT_TRUE(world.Exists(Join(dir, "sub")));
}

CONTRACT_CASE(OpenFileCannotBeRemovedOrRenamed)
{
    // The runtime opens files without delete sharing.
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "busy.txt");
    world.MakeFile(path, "busy", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.OpenForRead(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_FALSE(platform.RemoveFile(path.c_str()));
    CONTRACT_FALSE(platform.RenameFile(path.c_str(), Join(dir, "moved.txt").c_str()));
    platform.CloseFile(file);
    CONTRACT_TRUE(world.Exists(path));
    CONTRACT_FALSE(world.Exists(Join(dir, "moved.txt")));

    CONTRACT_TRUE(platform.RemoveFile(path.c_str()));
    CONTRACT_FALSE(world.Exists(path));
}

// A symbolic link to a folder is listed under its own name and takes that
// name, but no path leads through it: a path with the link as one of its
// folders names nothing, and nothing is read, made, changed or removed
// behind it. (A link on a disk the program did not make may lead anywhere.)
// Windows itself follows a symbolic link in a path: the Win32 world makes
// none, so the case skips there.
CONTRACT_CASE(NoPathLeadsThroughASymbolicLink)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string real = Join(dir, "real");
    world.MakeFolder(real);
    world.MakeFile(Join(real, "inside.txt"), "inside", kAttrArchive);
    world.MakeFile(Join(dir, "here.txt"), "here", kAttrArchive);
    const std::string link = Join(dir, "link");
    if (!world.MakeFolderLink(link, real)) CONTRACT_SKIP("no symbolic link can be made here");
    Platform& platform = world.platform();

    const Listing listing = List(platform, Join(dir, "*.*"));
    const DirEntry* entry = Entry(listing, "link");
    CONTRACT_REQUIRE(entry != nullptr);
    CONTRACT_EQ(kAttrDirectory | kAttrReparsePoint, entry->attributes & (kAttrDirectory | kAttrReparsePoint));
    CONTRACT_EQ(kReparseTagSymlink, entry->reparseTag);
    CONTRACT_TRUE(platform.PathExists(link.c_str()));

    const std::string through = Join(link, "inside.txt");
    DirEntry found;
    CONTRACT_EQ(0u, platform.FindFirstEntry(Join(link, "*.*").c_str(), found));
    CONTRACT_EQ(0u, platform.FindFirstEntry(through.c_str(), found));
    CONTRACT_FALSE(platform.PathExists(through.c_str()));
    CONTRACT_FALSE(platform.PathReadable(through.c_str()));
    char shortPath[kPathBufferSize];
    CONTRACT_EQ(0u, platform.ShortPathOf(through.c_str(), shortPath, sizeof shortPath));
    CONTRACT_EQ(kNoFile, platform.OpenForRead(through.c_str()));
    CONTRACT_EQ(kNoFile, platform.OpenForWrite(through.c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateForAppend(through.c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateForAppend(Join(link, "new.log").c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateNewFile(Join(link, "new.txt").c_str()));
    CONTRACT_FALSE(platform.CreateFolder(Join(link, "sub").c_str()));
    CONTRACT_FALSE(platform.SetAttributes(through.c_str(), kAttrReadOnly));
    CONTRACT_FALSE(platform.CopyFileOver(Join(dir, "here.txt").c_str(), through.c_str()));
    CONTRACT_FALSE(platform.CopyFileOver(through.c_str(), Join(dir, "copy.txt").c_str()));
    CONTRACT_FALSE(platform.RenameFile(through.c_str(), Join(dir, "moved.txt").c_str()));
    CONTRACT_FALSE(platform.RenameFile(Join(dir, "here.txt").c_str(), Join(link, "here.txt").c_str()));
    CONTRACT_FALSE(platform.RemoveFile(through.c_str()));

    CONTRACT_EQ(std::string("inside"), ContentOf(world, Join(real, "inside.txt")));
    CONTRACT_EQ(0u, world.AttributesOf(Join(real, "inside.txt")) & kComparedBits);
    CONTRACT_EQ(std::string("here"), ContentOf(world, Join(dir, "here.txt")));
    for (const char* name : {"new.log", "new.txt", "sub", "here.txt"}) CONTRACT_FALSE(world.Exists(Join(real, name)));
    CONTRACT_FALSE(world.Exists(Join(dir, "moved.txt")));
    CONTRACT_FALSE(world.Exists(Join(dir, "copy.txt")));
}

// A symbolic link whose target is missing still takes its name: nothing is
// made in its place, and nothing at its target.
CONTRACT_CASE(ADanglingSymbolicLinkTakesItsName)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "here.txt"), "here", kAttrArchive);
    const std::string link = Join(dir, "link");
    const std::string gone = Join(dir, "gone");
    if (!world.MakeFolderLink(link, gone)) CONTRACT_SKIP("no symbolic link can be made here");
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.PathExists(link.c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateNewFile(link.c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateForAppend(link.c_str()));
    CONTRACT_FALSE(platform.CreateFolder(link.c_str()));
    CONTRACT_FALSE(platform.RenameFile(Join(dir, "here.txt").c_str(), link.c_str()));
    CONTRACT_FALSE(platform.CopyFileOver(Join(dir, "here.txt").c_str(), link.c_str()));
    CONTRACT_FALSE(world.Exists(gone));
    CONTRACT_EQ(std::string("here"), ContentOf(world, Join(dir, "here.txt")));
}

// ------------------------------------------------------------ renaming and copying

CONTRACT_CASE(RenameMovesTheFile)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "a.txt"), "payload", kAttrArchive);
    world.MakeFolder(Join(dir, "sub"));
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.RenameFile(Join(dir, "a.txt").c_str(), Join(dir, "b.txt").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "a.txt")));
    CONTRACT_EQ(std::string("payload"), ContentOf(world, Join(dir, "b.txt")));

    CONTRACT_TRUE(platform.RenameFile(Join(dir, "b.txt").c_str(), Join(dir, "sub\\c.txt").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "b.txt")));
    CONTRACT_EQ(std::string("payload"), ContentOf(world, Join(dir, "sub\\c.txt")));
}

CONTRACT_CASE(RenameIntoMissingFolderFails)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "a.txt");
    world.MakeFile(path, "a", kAttrArchive);
    CONTRACT_FALSE(world.platform().RenameFile(path.c_str(), Join(dir, "missing\\a.txt").c_str()));
    CONTRACT_EQ(std::string("a"), ContentOf(world, path));
    CONTRACT_FALSE(world.Exists(Join(dir, "missing")));
}

CONTRACT_CASE(RenameOntoExistingNameFails)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "a.txt"), "a", kAttrArchive);
    world.MakeFile(Join(dir, "b.txt"), "b", kAttrArchive);
    world.MakeFolder(Join(dir, "sub"));
    Platform& platform = world.platform();

    CONTRACT_FALSE(platform.RenameFile(Join(dir, "a.txt").c_str(), Join(dir, "b.txt").c_str()));
    const std::string folder = (world.Quirks() & kQuirkCaseSensitiveNames) ? "sub" : "SUB";
    CONTRACT_FALSE(platform.RenameFile(Join(dir, "a.txt").c_str(), Join(dir, folder).c_str()));
    CONTRACT_EQ(std::string("a"), ContentOf(world, Join(dir, "a.txt")));
    CONTRACT_EQ(std::string("b"), ContentOf(world, Join(dir, "b.txt")));
}

CONTRACT_CASE(RenameOntoItsOwnNameSucceedsAndChangesNothing)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "same.txt");
    world.MakeFile(path, "same", kAttrArchive);
    CONTRACT_TRUE(world.platform().RenameFile(path.c_str(), path.c_str()));
    CONTRACT_EQ(std::string("same"), ContentOf(world, path));
}

CONTRACT_CASE(RenameKeepsReadOnlyFileAndItsAttributes)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "ro.txt"), "r", kAttrReadOnly | kAttrHidden);
    CONTRACT_TRUE(world.platform().RenameFile(Join(dir, "ro.txt").c_str(), Join(dir, "ro.bak").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "ro.txt")));
    CONTRACT_EQ(kAttrReadOnly | kAttrHidden, world.AttributesOf(Join(dir, "ro.bak")) & kComparedBits);
}

CONTRACT_CASE(CopyFileOverReplacesContent)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "new.txt"), "new", kAttrArchive);
    world.MakeFile(Join(dir, "old.txt"), "old and longer", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.CopyFileOver(Join(dir, "new.txt").c_str(), Join(dir, "old.txt").c_str()));
    CONTRACT_EQ(std::string("new"), ContentOf(world, Join(dir, "old.txt")));
    CONTRACT_EQ(std::string("new"), ContentOf(world, Join(dir, "new.txt")));

    CONTRACT_TRUE(platform.CopyFileOver(Join(dir, "new.txt").c_str(), Join(dir, "fresh.txt").c_str()));
    CONTRACT_EQ(std::string("new"), ContentOf(world, Join(dir, "fresh.txt")));
}

CONTRACT_CASE(CopyFileOverCarriesTheSourceAttributes)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "source.txt"), "s", kAttrHidden | kAttrReadOnly);
    CONTRACT_TRUE(world.platform().CopyFileOver(Join(dir, "source.txt").c_str(), Join(dir, "copy.txt").c_str()));
    CONTRACT_EQ(kAttrHidden | kAttrReadOnly, world.AttributesOf(Join(dir, "copy.txt")) & kComparedBits);
}

CONTRACT_CASE(CopyFileOverFailsWithoutSourceOrTargetFolder)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "target.txt"), "target", kAttrArchive);
    world.MakeFile(Join(dir, "source.txt"), "source", kAttrArchive);
    world.MakeFolder(Join(dir, "sub"));
    Platform& platform = world.platform();

    CONTRACT_FALSE(platform.CopyFileOver(Join(dir, "missing.txt").c_str(), Join(dir, "target.txt").c_str()));
    CONTRACT_EQ(std::string("target"), ContentOf(world, Join(dir, "target.txt")));
    CONTRACT_FALSE(platform.CopyFileOver(Join(dir, "source.txt").c_str(), Join(dir, "missing\\copy.txt").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "missing")));
    CONTRACT_FALSE(platform.CopyFileOver(Join(dir, "source.txt").c_str(), Join(dir, "sub").c_str()));
    CONTRACT_EQ(kAttrDirectory, world.AttributesOf(Join(dir, "sub")) & kComparedBits);
}

CONTRACT_CASE(CopyFileOntoItselfFails)
{
    // The source is open for reading while the target is opened for
    // writing; on one file the two opens collide (a sharing violation).
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "self.txt");
    world.MakeFile(path, "self", kAttrArchive);
    CONTRACT_FALSE(world.platform().CopyFileOver(path.c_str(), path.c_str()));
    CONTRACT_EQ(std::string("self"), ContentOf(world, path));
}

CONTRACT_CASE(CopyFileOverReadOnlyTargetFails)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "source.txt"), "source", kAttrArchive);
    world.MakeFile(Join(dir, "target.txt"), "target", kAttrReadOnly);
    if (world.Quirks() & kQuirkReadOnlyDoesNotStopWriters) CONTRACT_SKIP(kReadOnlyQuirkReason);
    CONTRACT_FALSE(world.platform().CopyFileOver(Join(dir, "source.txt").c_str(), Join(dir, "target.txt").c_str()));
    CONTRACT_EQ(std::string("target"), ContentOf(world, Join(dir, "target.txt")));
}

// ------------------------------------------------------------ text the platform fills in

// A buffer bigger than the size the call is given, filled with a marker, so a
// case sees both what the call wrote and whether it stayed within the size.
struct GuardedBuffer {
    static const std::size_t kSlack = 16;
    std::vector<char> bytes;
    std::uint32_t size;

    explicit GuardedBuffer(std::uint32_t given) : bytes(given + kSlack, '#'), size(given) {}
    char* data() { return bytes.data(); }
    bool StayedWithin() const
    {
        for (std::size_t i = size; i < bytes.size(); ++i) {
            if (bytes[i] != '#') return false;
        }
        return true;
    }
    // Whatever the call changed inside the size is a terminated string.
    bool TerminatedIfWritten() const
    {
        bool written = false;
        for (std::size_t i = 0; i < size; ++i) {
            if (bytes[i] == '\0') return true;
            if (bytes[i] != '#') written = true;
        }
        return !written;
    }
    std::string Text() const { return std::string(bytes.data()); }
};

CONTRACT_CASE(ShortPathOfAnEightDotThreePathIsThatPath)
{
    // Every component of the path is a valid 8.3 name, so the short form is
    // the path itself (the case's own folder name is too long for that).
    const std::string dir = Join(world.Root(), "shortpth");
    world.MakeFolder(dir);
    const std::string path = Join(dir, "short.txt");
    world.MakeFile(path, "s", kAttrArchive);
    Platform& platform = world.platform();

    GuardedBuffer full(kPathBufferSize);
    CONTRACT_EQ(path.size(), platform.ShortPathOf(path.c_str(), full.data(), full.size));
    CONTRACT_TRUE(full.StayedWithin());
    CONTRACT_EQ(path, full.Text());

    // Too small: the size needed, terminator included, and nothing past the
    // size given.
    GuardedBuffer small(4);
    CONTRACT_EQ(path.size() + 1, platform.ShortPathOf(path.c_str(), small.data(), small.size));
    CONTRACT_TRUE(small.StayedWithin());
    CONTRACT_TRUE(small.TerminatedIfWritten());

    GuardedBuffer missing(kPathBufferSize);
    CONTRACT_EQ(0u, platform.ShortPathOf(Join(dir, "missing.txt").c_str(), missing.data(), missing.size));
}

CONTRACT_CASE(FolderQueriesGiveLengthOrSizeNeeded)
{
    Platform& platform = world.platform();
    GuardedBuffer windows(kPathBufferSize);
    std::uint32_t length = platform.WindowsFolder(windows.data(), windows.size);
    CONTRACT_TRUE(length > 3);
    CONTRACT_EQ(length, windows.Text().size());
    CONTRACT_EQ(':', windows.data()[1]);

    GuardedBuffer temp(kPathBufferSize);
    std::uint32_t tempLength = platform.TempFolder(temp.data(), temp.size);
    CONTRACT_TRUE(tempLength > 3);
    CONTRACT_EQ(tempLength, temp.Text().size());
    CONTRACT_EQ('\\', temp.Text().empty() ? '?' : temp.Text().back());

    GuardedBuffer small(3);
    CONTRACT_EQ(length + 1, platform.WindowsFolder(small.data(), small.size));
    CONTRACT_TRUE(small.StayedWithin());
    CONTRACT_TRUE(small.TerminatedIfWritten());

    GuardedBuffer smallTemp(3);
    CONTRACT_EQ(tempLength + 1, platform.TempFolder(smallTemp.data(), smallTemp.size));
    CONTRACT_TRUE(smallTemp.StayedWithin());
}

CONTRACT_CASE(SystemFolderLiesInTheWindowsFolder)
{
    // GetSystemDirectoryA names System32 itself, also under WoW64.
    Platform& platform = world.platform();
    GuardedBuffer windows(kPathBufferSize);
    std::uint32_t windowsLength = platform.WindowsFolder(windows.data(), windows.size);
    GuardedBuffer system(kPathBufferSize);
    std::uint32_t length = platform.SystemFolder(system.data(), system.size);
    CONTRACT_TRUE(length > windowsLength + 1);
    CONTRACT_EQ(length, system.Text().size());
    CONTRACT_EQ(Upper(windows.Text()) + "\\SYSTEM32", Upper(system.Text()));

    GuardedBuffer small(3);
    CONTRACT_EQ(length + 1, platform.SystemFolder(small.data(), small.size));
    CONTRACT_TRUE(small.StayedWithin());
    CONTRACT_TRUE(small.TerminatedIfWritten());
}

CONTRACT_CASE(UnderWow64TheAliasAndBothRegistryViewsOpen)
{
    // Elsewhere there is nothing to see: the program never asks for either.
    Platform& platform = world.platform();
    if (!platform.RunsUnderWow64()) CONTRACT_SKIP("only a 32-bit program on 64-bit Windows asks for the alias and the views");
    GuardedBuffer windows(kPathBufferSize);
    platform.WindowsFolder(windows.data(), windows.size);
    CONTRACT_TRUE(platform.PathExists((windows.Text() + "\\SysWOW64").c_str()));
    DirEntry entry;
    SearchRef search = platform.FindFirstEntry((windows.Text() + "\\Sysnative\\*.*").c_str(), entry);
    CONTRACT_TRUE(search != 0);
    if (search) platform.FindEnd(search);
    for (std::uint32_t view : {0u, kKeyView64}) {
        KeyRef key = 0;
        CONTRACT_EQ(kRegistryOk, platform.RegistryOpen(kKeyLocalMachine, "Software\\Microsoft", kKeyRead | view, key));
        if (key) platform.RegistryClose(key);
    }
}

CONTRACT_CASE(ExpandEnvironmentKeepsPlainAndUnknownText)
{
    Platform& platform = world.platform();
    GuardedBuffer plain(kPathBufferSize);
    CONTRACT_EQ(12u, platform.ExpandEnvironment("plain text\\", plain.data(), plain.size));  // terminator counted
    CONTRACT_EQ(std::string("plain text\\"), plain.Text());

    const std::string unknown = "%QUELLOR_CONTRACT_UNSET%\\file.exe";
    GuardedBuffer kept(kPathBufferSize);
    CONTRACT_EQ(unknown.size() + 1, platform.ExpandEnvironment(unknown.c_str(), kept.data(), kept.size));
    CONTRACT_EQ(unknown, kept.Text());

    GuardedBuffer small(4);
    CONTRACT_EQ(unknown.size() + 1, platform.ExpandEnvironment(unknown.c_str(), small.data(), small.size));
    CONTRACT_TRUE(small.StayedWithin());
}

CONTRACT_CASE(WideToAnsiConvertsToTheCodePage)
{
    Platform& platform = world.platform();
    const std::uint16_t text[] = {'h', 'i', '!', 0};
    char out[8];
    std::memset(out, '#', sizeof out);
    CONTRACT_EQ(4, platform.WideToAnsi(text, -1, out, sizeof out));
    CONTRACT_EQ(std::string("hi!"), std::string(out));

    std::memset(out, '#', sizeof out);
    CONTRACT_EQ(2, platform.WideToAnsi(text, 2, out, sizeof out));
    CONTRACT_EQ(std::string("hi##"), std::string(out, 4));

    // Too small for the whole text: nothing converted.
    CONTRACT_EQ(0, platform.WideToAnsi(text, -1, out, 2));

    // A character the Western code page lacks becomes its default character.
    const std::uint16_t foreign[] = {'a', 0x4E2D, 'b', 0};
    CONTRACT_EQ(4, platform.WideToAnsi(foreign, -1, out, sizeof out));
    CONTRACT_EQ(std::string("a?b"), std::string(out));
}

// ------------------------------------------------------------ registry

CONTRACT_CASE(RegistryOpenOfMissingKeyFails)
{
    KeyRef key = 12345;
    CONTRACT_EQ(kRegistryNotFound,
                world.platform().RegistryOpen(kKeyCurrentUser, CaseKey(__func__).c_str(), kKeyRead, key));
    CONTRACT_EQ(0u, key);
}

CONTRACT_CASE(RegistryValuesAreCountedListedAndRead)
{
    const std::string keyPath = CaseKey(__func__);
    world.MakeRegistryString(kKeyCurrentUser, keyPath, "First", "one");
    world.MakeRegistryString(kKeyCurrentUser, keyPath, "Second", "two");
    Platform& platform = world.platform();

    KeyRef key = 0;
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyRead, key) == kRegistryOk);
    CONTRACT_TRUE(key != 0);

    std::uint32_t count = 0;
    CONTRACT_EQ(kRegistryOk, platform.RegistryValueCount(key, count));
    CONTRACT_EQ(2u, count);

    std::vector<std::string> names;
    for (std::uint32_t index = 0; index < 2; ++index) {
        char name[32];
        std::uint32_t length = sizeof name;
        CONTRACT_EQ(kRegistryOk, platform.RegistryEnumValue(key, index, name, length));
        CONTRACT_EQ(std::strlen(name), length);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    CONTRACT_EQ((std::vector<std::string>{"First", "Second"}), names);

    char name[32];
    std::uint32_t length = sizeof name;
    CONTRACT_EQ(kRegistryNoMoreItems, platform.RegistryEnumValue(key, 2, name, length));
    length = 3;
    CONTRACT_EQ(kRegistryMoreData, platform.RegistryEnumValue(key, 0, name, length));

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    CONTRACT_EQ(kRegistryOk, platform.RegistryQueryValue(key, "second", &type, nullptr, &size));
    CONTRACT_EQ(kRegSz, type);
    CONTRACT_EQ(4u, size);

    char data[16];
    std::memset(data, '#', sizeof data);
    size = sizeof data;
    CONTRACT_EQ(kRegistryOk, platform.RegistryQueryValue(key, "Second", &type, data, &size));
    CONTRACT_EQ(4u, size);
    CONTRACT_EQ(std::string("two", 4), std::string(data, 4));

    size = 2;
    CONTRACT_EQ(kRegistryMoreData, platform.RegistryQueryValue(key, "Second", &type, data, &size));
    CONTRACT_EQ(4u, size);

    size = sizeof data;
    CONTRACT_EQ(kRegistryNotFound, platform.RegistryQueryValue(key, "Third", &type, data, &size));
    platform.RegistryClose(key);
}

CONTRACT_CASE(RegistryDeleteValueRemovesOnlyThatValue)
{
    const std::string keyPath = CaseKey(__func__);
    world.MakeRegistryString(kKeyCurrentUser, keyPath, "Keep", "k");
    world.MakeRegistryString(kKeyCurrentUser, keyPath, "Drop", "d");
    Platform& platform = world.platform();

    KeyRef key = 0;
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyAllAccess, key) == kRegistryOk);
    CONTRACT_EQ(kRegistryOk, platform.RegistryDeleteValue(key, "DROP"));
    CONTRACT_EQ(kRegistryNotFound, platform.RegistryDeleteValue(key, "Drop"));
    std::uint32_t count = 0;
    CONTRACT_EQ(kRegistryOk, platform.RegistryValueCount(key, count));
    CONTRACT_EQ(1u, count);
    std::uint32_t size = 0;
    CONTRACT_EQ(kRegistryNotFound, platform.RegistryQueryValue(key, "Drop", nullptr, nullptr, &size));
    CONTRACT_EQ(kRegistryOk, platform.RegistryQueryValue(key, "Keep", nullptr, nullptr, &size));
    platform.RegistryClose(key);
}

CONTRACT_CASE(RegistryDeleteKeyRefusesKeysWithSubkeys)
{
    // The NT family's rule: only a key without subkeys can be deleted.
    const std::string keyPath = CaseKey(__func__);
    world.MakeRegistryKey(kKeyCurrentUser, keyPath + "\\Child");
    Platform& platform = world.platform();

    KeyRef parent = 0;
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, kContractRegistryKey, kKeyAllAccess, parent) ==
                     kRegistryOk);
    CONTRACT_EQ(kRegistryAccessDenied, platform.RegistryDeleteKey(parent, __func__));
    CONTRACT_EQ(kRegistryOk, platform.RegistryDeleteKey(parent, (std::string(__func__) + "\\Child").c_str()));
    CONTRACT_EQ(kRegistryOk, platform.RegistryDeleteKey(parent, __func__));
    CONTRACT_EQ(kRegistryNotFound, platform.RegistryDeleteKey(parent, __func__));
    platform.RegistryClose(parent);

    KeyRef key = 0;
    CONTRACT_EQ(kRegistryNotFound, platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyRead, key));
}

CONTRACT_CASE(RegistryValuesShiftDownAfterADeletionThroughAnotherHandle)
{
    // How the Run-value scan goes: one handle lists the values by position
    // while another deletes one of them.
    const std::string keyPath = CaseKey(__func__);
    for (const char* name : {"A", "B", "C"}) world.MakeRegistryString(kKeyCurrentUser, keyPath, name, name);
    Platform& platform = world.platform();

    KeyRef lister = 0;
    KeyRef deleter = 0;
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyRead, lister) == kRegistryOk);
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyAllAccess, deleter) ==
                     kRegistryOk);
    // The value listed first, whatever order the platform keeps them in.
    char first[8];
    std::uint32_t length = sizeof first;
    CONTRACT_REQUIRE(platform.RegistryEnumValue(lister, 0, first, length) == kRegistryOk);
    CONTRACT_EQ(kRegistryOk, platform.RegistryDeleteValue(deleter, first));

    std::uint32_t count = 0;
    CONTRACT_EQ(kRegistryOk, platform.RegistryValueCount(lister, count));
    CONTRACT_EQ(2u, count);
    std::vector<std::string> names;
    for (std::uint32_t index = 0; index < 2; ++index) {
        char name[8];
        length = sizeof name;
        CONTRACT_EQ(kRegistryOk, platform.RegistryEnumValue(lister, index, name, length));
        names.push_back(name);
    }
    names.push_back(first);
    std::sort(names.begin(), names.end());
    CONTRACT_EQ((std::vector<std::string>{"A", "B", "C"}), names);
    char name[8];
    length = sizeof name;
    CONTRACT_EQ(kRegistryNoMoreItems, platform.RegistryEnumValue(lister, 2, name, length));
    platform.RegistryClose(deleter);
    platform.RegistryClose(lister);
}

CONTRACT_CASE(RegistryDeleteValueNeedsAKeyOpenedForChanges)
{
    const std::string keyPath = CaseKey(__func__);
    world.MakeRegistryString(kKeyCurrentUser, keyPath, "Kept", "k");
    Platform& platform = world.platform();

    KeyRef key = 0;
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyRead, key) == kRegistryOk);
    CONTRACT_EQ(kRegistryAccessDenied, platform.RegistryDeleteValue(key, "Kept"));
    std::uint32_t size = 0;
    CONTRACT_EQ(kRegistryOk, platform.RegistryQueryValue(key, "Kept", nullptr, nullptr, &size));
    platform.RegistryClose(key);
}

CONTRACT_CASE(RegistryKeyNamesIgnoreCase)
{
    const std::string keyPath = CaseKey(__func__) + "\\Inner";
    world.MakeRegistryString(kKeyCurrentUser, keyPath, "Value", "v");
    Platform& platform = world.platform();

    KeyRef key = 0;
    CONTRACT_REQUIRE(platform.RegistryOpen(kKeyCurrentUser, Upper(keyPath).c_str(), kKeyRead, key) == kRegistryOk);
    std::uint32_t size = 0;
    CONTRACT_EQ(kRegistryOk, platform.RegistryQueryValue(key, "VALUE", nullptr, nullptr, &size));
    platform.RegistryClose(key);

    CONTRACT_EQ(kRegistryOk, platform.RegistryDeleteKey(kKeyCurrentUser, Upper(keyPath).c_str()));
    CONTRACT_EQ(kRegistryNotFound, platform.RegistryOpen(kKeyCurrentUser, keyPath.c_str(), kKeyRead, key));
}

// ------------------------------------------------------------ keeping copies

CONTRACT_CASE(CreateFolderMakesOneMissingFolder)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string made = Join(dir, "made");
    world.MakeFile(Join(dir, "file"), "f", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.CreateFolder(made.c_str()));
    CONTRACT_EQ(kAttrDirectory, world.AttributesOf(made) & kComparedBits);
    // A name that is taken, by a folder or a file, is not made again.
    CONTRACT_FALSE(platform.CreateFolder(made.c_str()));
    CONTRACT_FALSE(platform.CreateFolder(Join(dir, "file").c_str()));
    CONTRACT_EQ(std::string("f"), ContentOf(world, Join(dir, "file")));
    // Only the last folder of a path is made.
    CONTRACT_FALSE(platform.CreateFolder(Join(dir, "missing\\deeper").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "missing")));
}

CONTRACT_CASE(CreateNewFileRefusesATakenName)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "new.bin");
    world.MakeFolder(Join(dir, "folder"));
    world.MakeFile(Join(dir, "empty.bin"), "", kAttrArchive);
    Platform& platform = world.platform();

    FileRef file = platform.CreateNewFile(path.c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(2, WriteText(platform, file, "ab"));
    CONTRACT_TRUE(platform.FlushFile(file));
    CONTRACT_EQ(2, WriteText(platform, file, "cd"));
    char buffer[4];
    CONTRACT_EQ(-1, platform.ReadBytes(file, buffer, sizeof buffer));  // for writing only
    CONTRACT_TRUE(platform.FlushFile(file));
    platform.CloseFile(file);
    CONTRACT_EQ(std::string("abcd"), ContentOf(world, path));

    CONTRACT_EQ(kNoFile, platform.CreateNewFile(path.c_str()));
    CONTRACT_EQ(std::string("abcd"), ContentOf(world, path));
    CONTRACT_EQ(kNoFile, platform.CreateNewFile(Join(dir, "empty.bin").c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateNewFile(Join(dir, "folder").c_str()));
    CONTRACT_EQ(kNoFile, platform.CreateNewFile(Join(dir, "missing\\new.bin").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "missing")));
}

CONTRACT_CASE(FlushFolderFlushesOnlyAFolderThatIsThere)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "file"), "f", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.FlushFolder(dir.c_str()));
    CONTRACT_FALSE(platform.FlushFolder(Join(dir, "missing").c_str()));
    CONTRACT_FALSE(platform.FlushFolder(Join(dir, "file").c_str()));
    CONTRACT_EQ(std::string("f"), ContentOf(world, Join(dir, "file")));
}

CONTRACT_CASE(MakeGuardedFolderMakesOrTakesARealFolderThisProgramCanStillFill)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string made = Join(dir, "made");
    const std::string there = Join(dir, "there");
    world.MakeFolder(there);
    world.MakeFile(Join(there, "kept"), "k", kAttrArchive);
    world.MakeFile(Join(dir, "file"), "f", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.MakeGuardedFolder(made.c_str()));
    CONTRACT_EQ(kAttrDirectory, world.AttributesOf(made) & kComparedBits);
    // The program that guarded it still makes, renames and removes files in it.
    FileRef file = platform.CreateNewFile(Join(made, "a.tmp").c_str());
    CONTRACT_REQUIRE(file != kNoFile);
    CONTRACT_EQ(2, WriteText(platform, file, "ab"));
    platform.CloseFile(file);
    CONTRACT_TRUE(platform.RenameFile(Join(made, "a.tmp").c_str(), Join(made, "a.bin").c_str()));
    CONTRACT_EQ(std::string("ab"), ContentOf(world, Join(made, "a.bin")));
    CONTRACT_TRUE(platform.RemoveFile(Join(made, "a.bin").c_str()));
    // A folder that is there is taken as it is, with what it holds.
    CONTRACT_TRUE(platform.MakeGuardedFolder(made.c_str()));
    CONTRACT_TRUE(platform.MakeGuardedFolder(there.c_str()));
    CONTRACT_EQ(std::string("k"), ContentOf(world, Join(there, "kept")));
    // A file is no folder, and only the last folder of a path is made.
    CONTRACT_FALSE(platform.MakeGuardedFolder(Join(dir, "file").c_str()));
    CONTRACT_EQ(std::string("f"), ContentOf(world, Join(dir, "file")));
    CONTRACT_FALSE(platform.MakeGuardedFolder(Join(dir, "missing\\deeper").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "missing")));
}

// ------------------------------------------------------------ locks and replacing

CONTRACT_CASE(PathLockKeepsOutOtherTakersOnlyUntilLetGo)
{
    const std::string dir = CaseFolder(world, __func__);
    const std::string path = Join(dir, "log.txt");
    world.MakeFile(path, "old\r\n", kAttrArchive);
    Platform& platform = world.platform();
    LockRef first = 0;
    LockRef second = 0;
    LockRef elsewhere = 0;

    CONTRACT_REQUIRE(platform.TakePathLock(path.c_str(), first) == PathLockTaken);
    CONTRACT_TRUE(first != 0);
    CONTRACT_TRUE(platform.TakePathLock(path.c_str(), second) == PathLockHeld);
    CONTRACT_EQ(0u, second);
    // Another name is another lock, whether or not a file has it yet.
    CONTRACT_TRUE(platform.TakePathLock(Join(dir, "fresh.txt").c_str(), elsewhere) == PathLockTaken);
    // The file is written and replaced as ever.
    FileRef appender = platform.CreateForAppend(path.c_str());
    CONTRACT_REQUIRE(appender != kNoFile);
    CONTRACT_EQ(4, WriteText(platform, appender, "more"));
    platform.CloseFile(appender);
    CONTRACT_EQ(std::string("old\r\nmore"), ContentOf(world, path));
    world.MakeFile(Join(dir, "log.new"), "new", kAttrArchive);
    CONTRACT_TRUE(platform.RenameOver(Join(dir, "log.new").c_str(), path.c_str()));
    CONTRACT_EQ(std::string("new"), ContentOf(world, path));

    // Let go, and taken again after the replace, it keeps the others out.
    platform.ReleasePathLock(first);
    CONTRACT_TRUE(platform.TakePathLock(path.c_str(), second) == PathLockTaken);
    CONTRACT_TRUE(platform.TakePathLock(path.c_str(), first) == PathLockHeld);
    platform.ReleasePathLock(second);
    platform.ReleasePathLock(elsewhere);
    CONTRACT_TRUE(platform.TakePathLock(path.c_str(), first) == PathLockTaken);
    platform.ReleasePathLock(first);
}

CONTRACT_CASE(RenameOverReplacesTheFileThatHasTheName)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "log.txt"), "old and longer", kAttrArchive);
    world.MakeFile(Join(dir, "log.new"), "new", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_TRUE(platform.RenameOver(Join(dir, "log.new").c_str(), Join(dir, "log.txt").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "log.new")));
    CONTRACT_EQ(std::string("new"), ContentOf(world, Join(dir, "log.txt")));
    // A name no file has yet is no error.
    CONTRACT_TRUE(platform.RenameOver(Join(dir, "log.txt").c_str(), Join(dir, "fresh.txt").c_str()));
    CONTRACT_FALSE(world.Exists(Join(dir, "log.txt")));
    CONTRACT_EQ(std::string("new"), ContentOf(world, Join(dir, "fresh.txt")));
}

CONTRACT_CASE(RenameOverRefusesWhatIsNoFileOfTheSameFolder)
{
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "a.txt"), "a", kAttrArchive);
    world.MakeFolder(Join(dir, "sub"));
    world.MakeFolder(Join(dir, "other"));
    world.MakeFile(Join(dir, "sub\\b.txt"), "b", kAttrArchive);
    Platform& platform = world.platform();

    CONTRACT_FALSE(platform.RenameOver(Join(dir, "missing.txt").c_str(), Join(dir, "a.txt").c_str()));
    CONTRACT_FALSE(platform.RenameOver(Join(dir, "other").c_str(), Join(dir, "a.txt").c_str()));
    CONTRACT_FALSE(platform.RenameOver(Join(dir, "a.txt").c_str(), Join(dir, "sub").c_str()));
    CONTRACT_FALSE(platform.RenameOver(Join(dir, "a.txt").c_str(), Join(dir, "sub\\b.txt").c_str()));
    CONTRACT_EQ(std::string("a"), ContentOf(world, Join(dir, "a.txt")));
    CONTRACT_EQ(std::string("b"), ContentOf(world, Join(dir, "sub\\b.txt")));
    CONTRACT_TRUE(world.Exists(Join(dir, "other")));
    CONTRACT_EQ(kAttrDirectory, world.AttributesOf(Join(dir, "sub")) & kAttrDirectory);
}

CONTRACT_CASE(RenameOverLeavesAFileThatIsOpenInPlace)
{
    // The runtime opens files without delete sharing.
    const std::string dir = CaseFolder(world, __func__);
    world.MakeFile(Join(dir, "log.txt"), "old", kAttrArchive);
    world.MakeFile(Join(dir, "log.new"), "new", kAttrArchive);
    Platform& platform = world.platform();
    FileRef reader = platform.OpenForRead(Join(dir, "log.txt").c_str());
    CONTRACT_REQUIRE(reader != kNoFile);
    CONTRACT_FALSE(platform.RenameOver(Join(dir, "log.new").c_str(), Join(dir, "log.txt").c_str()));
    platform.CloseFile(reader);
    CONTRACT_EQ(std::string("old"), ContentOf(world, Join(dir, "log.txt")));
    CONTRACT_EQ(std::string("new"), ContentOf(world, Join(dir, "log.new")));
}

CONTRACT_CASE(CurrentTimeCountsSecondsSince1970)
{
    Platform& platform = world.platform();
    const std::int64_t first = platform.CurrentTime();
    // Between 2020-01-01 and 2100-01-01: seconds, not milliseconds or
    // the 100-nanosecond steps the system counts in.
    CONTRACT_TRUE(first > 1577836800);
    CONTRACT_TRUE(first < 4102444800);
    CONTRACT_TRUE(platform.CurrentTime() >= first);
}

CONTRACT_CASE(CommonDataFolderIsAnExistingFolderOrNone)
{
    Platform& platform = world.platform();
    char folder[kPathBufferSize];
    const std::uint32_t length = platform.CommonDataFolder(folder, sizeof folder);
    if (world.Quirks() & kQuirkNoCommonDataFolder) {
        CONTRACT_EQ(0u, length);
        return;
    }
    CONTRACT_REQUIRE(length > 3 && length < sizeof folder);
    CONTRACT_EQ(static_cast<std::size_t>(length), std::strlen(folder));
    CONTRACT_TRUE(folder[1] == ':' && folder[2] == '\\');
    CONTRACT_TRUE(platform.PathExists(folder));
    char tiny[4];
    CONTRACT_EQ(length + 1, platform.CommonDataFolder(tiny, sizeof tiny));
}

// ------------------------------------------------------------ processes and messages

CONTRACT_CASE(OpeningUnknownProcessFails)
{
    Platform& platform = world.platform();
    CONTRACT_EQ(0u, platform.OpenProcessById(kProcessTerminateQuery, 0x0FFFFFF0u));
    CONTRACT_EQ(87u, platform.LastErrorCode());  // ERROR_INVALID_PARAMETER
}

CONTRACT_CASE(OpeningUnknownServiceFails)
{
    Platform& platform = world.platform();
    ServiceRef manager = platform.OpenServiceManager(kServiceAllAccess);
    // Without administrator rights the manager itself is refused, and there
    // is no service to ask about.
    if (manager == 0) CONTRACT_SKIP("the service manager refuses this user, so there is no service to ask about");
    CONTRACT_EQ(0u, platform.OpenServiceByName(manager, "QuellorContractNoSuchService", kServiceAllAccess));
    platform.CloseServiceRef(manager);
}

CONTRACT_CASE(PostedMessageIsTakenOnce)
{
    Platform& platform = world.platform();
    PendingMessage message;
    // Whatever was queued before the case is not its concern.
    for (int guard = 0; guard < 100 && platform.TakePendingMessage(message); ++guard) {
    }

    const std::uint32_t kCaseMessage = 0x0400 + 0x51;  // in the application's range
    world.PostToQueue(kCaseMessage, 11, 22);
    std::memset(&message, 0, sizeof message);
    CONTRACT_REQUIRE(platform.TakePendingMessage(message));
    CONTRACT_EQ(kCaseMessage, message.message);
    CONTRACT_EQ(11u, message.wParam);
    CONTRACT_EQ(22, message.lParam);
    CONTRACT_FALSE(platform.TakePendingMessage(message));
}

}  // namespace

#define CONTRACT_ENTRY(name) {#name, name}

const ContractCase kPlatformContractCases[] = {
    CONTRACT_ENTRY(FolderListsDotEntriesFirst),
    CONTRACT_ENTRY(EmptyFolderListsOnlyDotEntries),
    CONTRACT_ENTRY(DriveRootListsNoDotEntries),
    CONTRACT_ENTRY(StarAndStarDotStarListTheSameNames),
    CONTRACT_ENTRY(EntriesCarryHiddenSystemAndReadOnly),
    CONTRACT_ENTRY(MissingFolderFindsNothing),
    CONTRACT_ENTRY(PatternMatchingNothingFindsNothing),
    CONTRACT_ENTRY(NameDotStarListsOnlyThatName),
    CONTRACT_ENTRY(MasksAreWindowsWildcardsNotShellPatterns),
    CONTRACT_ENTRY(ExactFilePathFindsThatFile),
    CONTRACT_ENTRY(ExactFolderPathFindsTheFolderItself),
    CONTRACT_ENTRY(PatternWithTrailingBackslashFindsNothing),
    CONTRACT_ENTRY(FindIgnoresCaseAndKeepsStoredName),
    CONTRACT_ENTRY(OpeningMissingFileGivesNoFile),
    CONTRACT_ENTRY(WildcardCharactersNameNoFile),
    CONTRACT_ENTRY(ForeignNamesAreListedWithQuestionMarksAndOpenByTheirShortNames),
    CONTRACT_ENTRY(OpeningFolderGivesNoFile),
    CONTRACT_ENTRY(ReadStopsShortAtTheEnd),
    CONTRACT_ENTRY(SeekRulesOfTheRuntime),
    CONTRACT_ENTRY(EmptyFileHasLengthZero),
    CONTRACT_ENTRY(HandlesWorkOnlyTheWayTheyWereOpened),
    CONTRACT_ENTRY(TwoReadersOfOneFileKeepTheirOwnPositions),
    CONTRACT_ENTRY(OpenForWriteOverwritesFromTheStartWithoutTruncating),
    CONTRACT_ENTRY(WritingPastTheEndFillsTheGapWithZeros),
    CONTRACT_ENTRY(CreateForAppendCreatesAMissingFile),
    CONTRACT_ENTRY(CreateForAppendAlwaysWritesAtTheEnd),
    CONTRACT_ENTRY(ReadOnlyFileRefusesWriters),
    CONTRACT_ENTRY(PathExistsForFilesAndFolders),
    CONTRACT_ENTRY(TrailingBackslashNamesOnlyAFolder),
    CONTRACT_ENTRY(PathsIgnoreCase),
    CONTRACT_ENTRY(DriveTypes),
    CONTRACT_ENTRY(PlainFolderIsNoVolumeMountPoint),
    CONTRACT_ENTRY(SetAttributesToArchiveClearsTheOthers),
    CONTRACT_ENTRY(SetAttributesSetsWhatItIsGiven),
    CONTRACT_ENTRY(RemovingReadOnlyFileFails),
    CONTRACT_ENTRY(RemovingHiddenSystemFileWorks),
    CONTRACT_ENTRY(RemovingMissingFileOrFolderFails),
    CONTRACT_ENTRY(OpenFileCannotBeRemovedOrRenamed),
    CONTRACT_ENTRY(RenameMovesTheFile),
    CONTRACT_ENTRY(RenameIntoMissingFolderFails),
    CONTRACT_ENTRY(RenameOntoExistingNameFails),
    CONTRACT_ENTRY(RenameOntoItsOwnNameSucceedsAndChangesNothing),
    CONTRACT_ENTRY(RenameKeepsReadOnlyFileAndItsAttributes),
    CONTRACT_ENTRY(NoPathLeadsThroughASymbolicLink),
    CONTRACT_ENTRY(ADanglingSymbolicLinkTakesItsName),
    CONTRACT_ENTRY(CopyFileOverReplacesContent),
    CONTRACT_ENTRY(CopyFileOverCarriesTheSourceAttributes),
    CONTRACT_ENTRY(CopyFileOverFailsWithoutSourceOrTargetFolder),
    CONTRACT_ENTRY(CopyFileOntoItselfFails),
    CONTRACT_ENTRY(CopyFileOverReadOnlyTargetFails),
    CONTRACT_ENTRY(ShortPathOfAnEightDotThreePathIsThatPath),
    CONTRACT_ENTRY(FolderQueriesGiveLengthOrSizeNeeded),
    CONTRACT_ENTRY(SystemFolderLiesInTheWindowsFolder),
    CONTRACT_ENTRY(UnderWow64TheAliasAndBothRegistryViewsOpen),
    CONTRACT_ENTRY(ExpandEnvironmentKeepsPlainAndUnknownText),
    CONTRACT_ENTRY(WideToAnsiConvertsToTheCodePage),
    CONTRACT_ENTRY(CreateFolderMakesOneMissingFolder),
    CONTRACT_ENTRY(CreateNewFileRefusesATakenName),
    CONTRACT_ENTRY(FlushFolderFlushesOnlyAFolderThatIsThere),
    CONTRACT_ENTRY(MakeGuardedFolderMakesOrTakesARealFolderThisProgramCanStillFill),
    CONTRACT_ENTRY(PathLockKeepsOutOtherTakersOnlyUntilLetGo),
    CONTRACT_ENTRY(RenameOverReplacesTheFileThatHasTheName),
    CONTRACT_ENTRY(RenameOverRefusesWhatIsNoFileOfTheSameFolder),
    CONTRACT_ENTRY(RenameOverLeavesAFileThatIsOpenInPlace),
    CONTRACT_ENTRY(CurrentTimeCountsSecondsSince1970),
    CONTRACT_ENTRY(CommonDataFolderIsAnExistingFolderOrNone),
    CONTRACT_ENTRY(RegistryOpenOfMissingKeyFails),
    CONTRACT_ENTRY(RegistryValuesAreCountedListedAndRead),
    CONTRACT_ENTRY(RegistryDeleteValueRemovesOnlyThatValue),
    CONTRACT_ENTRY(RegistryDeleteKeyRefusesKeysWithSubkeys),
    CONTRACT_ENTRY(RegistryValuesShiftDownAfterADeletionThroughAnotherHandle),
    CONTRACT_ENTRY(RegistryDeleteValueNeedsAKeyOpenedForChanges),
    CONTRACT_ENTRY(RegistryKeyNamesIgnoreCase),
    CONTRACT_ENTRY(OpeningUnknownProcessFails),
    CONTRACT_ENTRY(OpeningUnknownServiceFails),
    CONTRACT_ENTRY(PostedMessageIsTakenOnce),
};

const std::size_t kPlatformContractCaseCount = sizeof kPlatformContractCases / sizeof kPlatformContractCases[0];
