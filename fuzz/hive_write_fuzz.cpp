// libFuzzer target: the hive backend's write path over one hive file. The
// input, written to a hive in a scratch folder of its own, is mounted as
// the machine's SOFTWARE hive and as a user's NTUSER.DAT, changes are
// allowed, and a few deletions of values and keys found by a bounded walk
// are made through the Platform calls the engine uses, from either root
// and view. Seeds: the hives of fuzz/corpus/hive_fuzz (make_hive_seeds).
//
// Invariants, checked after every deletion:
// - the file is byte for byte as it was, or a hive libhivex opens whose
//   two sequence numbers are equal; nothing else is left in the folder;
// - a deletion answered kRegistryOk removed exactly the first value (or
//   subkey) of that name, as libhivex reads the file afresh, and both
//   mounts of the file see it; any other answer left the bytes unchanged;
// - ERROR_REGISTRY_IO_FAILED comes with a problem line naming the hive;
// - a hive found damaged, or one Windows did not close cleanly, is never
//   written; the hook runs once, before the first change, on the old hive.
// The writer child may crash on a damaged hive; this process must not.
#include <dirent.h>
#include <hivex.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HivePlatform.h"
#include "platform/hive/HiveText.h"

namespace {

const std::size_t kKeyBudget = 64;
const std::size_t kDepthLimit = 12;
// Each change forks a writer: a few per input keep the fuzzer quick.
const std::size_t kChangeBudget = 8;
const long kRegistryIoFailed = 1016;
const char kHiveName[] = "hive";
const char kProfile[] = "C:\\Users\\fuzz";

// Names the broken check's line, then aborts as the fuzzer expects.
void Require(bool condition, int line = __builtin_LINE())
{
    if (condition) return;
    std::fprintf(stderr, "hive_write_fuzz: the check at line %d does not hold\n", line);
    std::abort();
}

// The folder the hive lives in, so that whatever the writer leaves beside
// it is seen. Removed with its files when the program ends.
struct ScratchFolder {
    ScratchFolder()
    {
        char name[] = "/tmp/quellor-hive-write-fuzz-XXXXXX";
        Require(mkdtemp(name) != nullptr);
        path = name;
        hive = path + "/" + kHiveName;
    }
    ~ScratchFolder()
    {
        Empty();
        rmdir(path.c_str());
    }
    // The names in the folder but "." and "..".
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        DIR* folder = opendir(path.c_str());
        Require(folder != nullptr);
        while (dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(folder);
        return names;
    }
    void Empty() const
    {
        for (const std::string& name : Names()) unlink((path + "/" + name).c_str());
    }
    std::string path;
    std::string hive;
};

const ScratchFolder& Scratch()
{
    static ScratchFolder scratch;
    return scratch;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    if (bytes.size() < at + 4) return 0;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return b[0] | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
           static_cast<std::uint32_t>(b[3]) << 24;
}

// Windows did not close it cleanly: its two sequence numbers differ.
bool Dirty(const std::string& bytes)
{
    return bytes.size() >= 12 && Le32(bytes, 4) != Le32(bytes, 8);
}

// A deterministic choice per input, so a saved input replays the same way.
struct Chooser {
    explicit Chooser(const std::string& input)
    {
        for (unsigned char c : input) state = (state ^ c) * 1099511628211ull;
    }
    std::size_t Below(std::size_t count)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return count ? static_cast<std::size_t>((state >> 33) % count) : 0;
    }
    std::uint64_t state = 14695981039346656037ull;
};

// ------------------------------------------------------------ the hive as libhivex reads it afresh

struct Reader {
    explicit Reader(const std::string& path) : hive(hivex_open(path.c_str(), 0)) {}
    ~Reader()
    {
        if (hive) hivex_close(hive);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    hive_h* hive;
};

std::vector<hive_node_h> Children(hive_h* hive, hive_node_h key)
{
    std::vector<hive_node_h> children;
    hive_node_h* listed = key ? hivex_node_children(hive, key) : nullptr;
    for (std::size_t i = 0; listed && listed[i]; ++i) children.push_back(listed[i]);
    std::free(listed);
    return children;
}

// "\x01" for a name libhivex cannot read: it names nothing.
std::string StoredName(char* name)
{
    const std::string stored = name ? name : "\x01";
    std::free(name);
    return stored;
}

// The first child of that name, as the backend finds a key.
hive_node_h FindChild(hive_h* hive, hive_node_h key, const std::string& name)
{
    for (hive_node_h child : Children(hive, key)) {
        if (hivetext::SameName(StoredName(hivex_node_name(hive, child)).c_str(), name)) return child;
    }
    return 0;
}

hive_node_h FindKey(hive_h* hive, const std::vector<std::string>& path)
{
    hive_node_h key = hive ? hivex_root(hive) : 0;
    for (std::size_t i = 0; i < path.size() && key; ++i) key = FindChild(hive, key, path[i]);
    return key;
}

// A key's values as stored: name, type bits and data, in the hive's order.
struct StoredValue {
    std::string name;
    std::string content;
    bool operator==(const StoredValue& other) const { return name == other.name && content == other.content; }
};

std::vector<StoredValue> ValuesOf(hive_h* hive, hive_node_h key)
{
    std::vector<StoredValue> values;
    hive_value_h* listed = key ? hivex_node_values(hive, key) : nullptr;
    for (std::size_t i = 0; listed && listed[i]; ++i) {
        StoredValue value{StoredName(hivex_value_key(hive, listed[i])), "\x01"};
        hive_type type;
        std::size_t length = 0;
        char* data = hivex_value_value(hive, listed[i], &type, &length);
        if (data) {
            value.content = std::to_string(StoredType(type)) + ":" + std::string(data, length);
        }
        std::free(data);
        values.push_back(value);
    }
    std::free(listed);
    return values;
}

std::vector<std::string> ChildNames(hive_h* hive, hive_node_h key)
{
    std::vector<std::string> names;
    for (hive_node_h child : Children(hive, key)) names.push_back(StoredName(hivex_node_name(hive, child)));
    return names;
}

// `list` without its first entry that `name` names; false when none does.
template <typename Entry, typename NameOf>
bool WithoutFirst(std::vector<Entry>& list, const std::string& name, NameOf nameOf)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (hivetext::SameName(nameOf(list[i]).c_str(), name)) {
            list.erase(list.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

// ------------------------------------------------------------ the walk and the changes

struct WalkedKey {
    std::string path;  // engine text, from the hive's root
    std::vector<std::string> values;
    bool leaf;
};

void Walk(const std::string& hivePath, std::vector<WalkedKey>& keys)
{
    Reader reader(hivePath);
    if (!reader.hive) return;
    struct Pending {
        hive_node_h node;
        std::string path;
        std::size_t depth;
    };
    std::vector<Pending> queue = {{hivex_root(reader.hive), "", 0}};
    for (std::size_t at = 0; at < queue.size() && keys.size() < kKeyBudget; ++at) {
        const Pending current = queue[at];
        const std::vector<hive_node_h> children = Children(reader.hive, current.node);
        WalkedKey key{current.path, {}, children.empty()};
        for (const StoredValue& value : ValuesOf(reader.hive, current.node)) {
            key.values.push_back(hivetext::FromUtf8(value.name.c_str()));
        }
        keys.push_back(key);
        if (current.depth >= kDepthLimit) continue;
        for (std::size_t i = 0; i < children.size() && queue.size() < kKeyBudget; ++i) {
            const std::string name = hivetext::FromUtf8(StoredName(hivex_node_name(reader.hive, children[i])).c_str());
            queue.push_back({children[i], current.path.empty() ? name : current.path + "\\" + name, current.depth + 1});
        }
    }
}

// Where a change is asked from: the user's hive, or SOFTWARE in either view.
struct Root {
    KeyRef key;
    const char* prefix;
    std::uint32_t view;
};
const Root kRoots[] = {
    {kKeyCurrentUser, "", 0},
    {kKeyLocalMachine, "Software\\", kKeyView64},
    {kKeyLocalMachine, "Software\\", 0},
};

struct Change {
    bool deleteKey;
    const Root* root;
    std::string path;   // the key, or the key that holds the value
    std::string value;  // the value's name
    bool throughParent; // deleteKey: the parent is opened, the leaf named from it
    bool readOnlyHandle;
};

std::vector<Change> Plan(const std::vector<WalkedKey>& keys, Chooser& choose)
{
    std::vector<Change> changes;
    for (std::size_t tries = 0; !keys.empty() && changes.size() < kChangeBudget && tries < 4 * kChangeBudget; ++tries) {
        const WalkedKey& key = keys[choose.Below(keys.size())];
        Change change{false, &kRoots[choose.Below(3)], key.path, "", choose.Below(2) == 0, choose.Below(8) == 0};
        // Mostly leaves, now and then a key that must be refused.
        if (!key.path.empty() && (key.values.empty() || choose.Below(3) == 0) && (key.leaf || choose.Below(4) == 0)) {
            change.deleteKey = true;
        } else if (!key.values.empty()) {
            change.value = key.values[choose.Below(key.values.size())];
        } else {
            continue;
        }
        changes.push_back(change);
    }
    return changes;
}

// The names from the hive's root that the backend reaches for `path` from
// `root`: a 32-bit view of a 64-bit Windows goes through Wow6432Node.
std::vector<std::string> InHive(const Root& root, const std::string& path, bool is64Bit)
{
    std::vector<std::string> parts = hivetext::SplitPath(path.c_str());
    if (root.key == kKeyLocalMachine && is64Bit && !(root.view & kKeyView64) &&
        (parts.empty() || !hivetext::SameName(hivetext::ToUtf8(parts[0]).c_str(), "Wow6432Node"))) {
        parts.insert(parts.begin(), "Wow6432Node");
    }
    return parts;
}

// The parent's path and the leaf's name of a key deleted through its parent.
void SplitLeaf(const std::string& path, std::string& parent, std::string& leaf)
{
    const std::size_t slash = path.rfind('\\');
    parent = slash == std::string::npos ? "" : path.substr(0, slash);
    leaf = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> InHive(const Change& change, bool is64Bit)
{
    if (!change.deleteKey) return InHive(*change.root, change.path, is64Bit);
    // RegistryDeleteKey has no access mask: it works in the 32-bit view.
    const Root inProgramView{change.root->key, change.root->prefix, 0};
    if (!change.throughParent) return InHive(inProgramView, change.path, is64Bit);
    std::string parent;
    std::string leaf;
    SplitLeaf(change.path, parent, leaf);
    std::vector<std::string> parts = InHive(*change.root, parent, is64Bit);
    for (const std::string& name : hivetext::SplitPath(leaf.c_str())) parts.push_back(name);
    return parts;
}

long Make(Platform& platform, const Change& change)
{
    const Root& root = *change.root;
    const std::uint32_t access = (change.readOnlyHandle ? kKeyRead : kKeyAllAccess) | root.view;
    KeyRef key = 0;
    long result = kRegistryOk;
    if (!change.deleteKey) {
        result = platform.RegistryOpen(root.key, (root.prefix + change.path).c_str(), access, key);
        if (result != kRegistryOk) return result;
        result = platform.RegistryDeleteValue(key, change.value.c_str());
        platform.RegistryClose(key);
        return result;
    }
    if (!change.throughParent) return platform.RegistryDeleteKey(root.key, (root.prefix + change.path).c_str());
    std::string parent;
    std::string leaf;
    SplitLeaf(change.path, parent, leaf);
    result = platform.RegistryOpen(root.key, (root.prefix + parent).c_str(), access, key);
    if (result != kRegistryOk) return result;
    result = platform.RegistryDeleteKey(key, leaf.c_str());
    platform.RegistryClose(key);
    return result;
}

// What the change is expected to leave, read before it: the holding key's
// values, or the parent's subkey names, without the first one named.
struct Expectation {
    bool found = false;
    bool hasSubkeys = false;  // a key with subkeys is never deleted
    std::vector<std::string> parent;  // the key read again afterwards
    std::vector<StoredValue> values;
    std::vector<std::string> subkeys;
};

Expectation Expect(const std::string& hivePath, const Change& change, bool is64Bit)
{
    Expectation expected;
    std::vector<std::string> path = InHive(change, is64Bit);
    Reader reader(hivePath);
    if (!change.deleteKey) {
        expected.parent = path;
        expected.values = ValuesOf(reader.hive, FindKey(reader.hive, path));
        expected.found = WithoutFirst(expected.values, change.value,
                                      [](const StoredValue& value) { return value.name; });
        return expected;
    }
    if (path.empty()) return expected;
    const std::string leaf = path.back();
    path.pop_back();
    expected.parent = path;
    expected.subkeys = ChildNames(reader.hive, FindKey(reader.hive, path));
    std::vector<std::string> full = path;
    full.push_back(leaf);
    expected.hasSubkeys = !Children(reader.hive, FindKey(reader.hive, full)).empty();
    expected.found = WithoutFirst(expected.subkeys, leaf, [](const std::string& name) { return name; });
    return expected;
}

// Both mounts of the file, reopened after the change, count what a fresh
// read counts.
void RequireMountsSee(Platform& platform, const std::vector<std::string>& parent, std::size_t values)
{
    std::string path;
    for (const std::string& name : parent) path += (path.empty() ? "" : "\\") + name;
    for (const Root& root : {kRoots[0], kRoots[1]}) {
        KeyRef key = 0;
        Require(platform.RegistryOpen(root.key, (root.prefix + path).c_str(), kKeyRead | root.view, key) == kRegistryOk);
        std::uint32_t count = 0;
        if (platform.RegistryValueCount(key, count) == kRegistryOk) Require(count == values);
        platform.RegistryClose(key);
    }
}

bool NamesHive(const std::vector<std::string>& lines, const std::string& hivePath)
{
    for (const std::string& line : lines) {
        if (line.find(hivePath) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const ScratchFolder& scratch = Scratch();
    const std::string& path = scratch.hive;
    const std::string input(reinterpret_cast<const char*>(bytes), size);
    scratch.Empty();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
    }

    FakePlatform fake;
    HivePlatform hives(fake);
    int hookCalls = 0;
    hives.SetBeforeFirstChange([&](const std::string& hivePath) {
        ++hookCalls;
        Require(hivePath == path && ReadAll(path) == input);
        return true;
    });
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AddUser(path, kProfile, problems);
    Require(problems.size() == (hives.HadDamagedHive() ? 2u : 0u));
    hives.AllowChanges(true);
    hives.TakeProblems();
    const bool neverWritten = hives.HadDamagedHive() || Dirty(input);
    const bool is64Bit = hives.Is64BitWindows();

    std::vector<WalkedKey> keys;
    Walk(path, keys);
    Chooser choose(input);
    std::string before = input;
    for (const Change& change : Plan(keys, choose)) {
        const Expectation expected = Expect(path, change, is64Bit);
        const bool damagedBefore = hives.HadDamagedHive();
        const long result = Make(hives, change);
        const std::vector<std::string> reported = hives.TakeProblems();
        const std::string after = ReadAll(path);

        Require(scratch.Names() == std::vector<std::string>{kHiveName});
        if (result == kRegistryIoFailed) Require(NamesHive(reported, path));
        if (result != kRegistryOk || neverWritten || damagedBefore) {
            Require(after == before);
            continue;
        }
        Require(after != before && std::memcmp(after.data(), "regf", 4) == 0 && !Dirty(after));
        Reader reader(path);
        Require(reader.hive != nullptr);
        Require(expected.found && !expected.hasSubkeys && (change.deleteKey || !change.readOnlyHandle));
        const hive_node_h parent = FindKey(reader.hive, expected.parent);
        Require(parent != 0);
        if (change.deleteKey) Require(ChildNames(reader.hive, parent) == expected.subkeys);
        else Require(ValuesOf(reader.hive, parent) == expected.values);
        Require(!hives.HadDamagedHive());
        RequireMountsSee(hives, expected.parent, ValuesOf(reader.hive, parent).size());
        before = after;
    }
    Require(hookCalls <= 1 && (before == input || hookCalls == 1));
    return 0;
}
