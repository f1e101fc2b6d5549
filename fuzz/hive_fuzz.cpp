// libFuzzer target: the hive backend's read path over one hive file. The
// input, written to a scratch file, is mounted at once as the machine's
// SOFTWARE and SYSTEM hives and as a user's NTUSER.DAT; its keys (found by
// a bounded walk) are opened through the backend from both roots and every
// value is listed and read. Seeds: hives made by tests/fixtures/HiveMaker
// (fuzz/make_hive_seeds.cpp writes them).
//
// Invariants:
// - nothing crashes or hangs, and the file is never written: changes are
//   not allowed, so every deletion is refused;
// - a value's size asked alone equals the size read; a buffer one byte
//   short gets kRegistryMoreData with that size, nothing written past it;
// - a listed value name fits its buffer, is terminated and has the length
//   given;
// - a hive that cannot be used gives one problem line for each place it
//   was mounted, and nothing is found in it.
#include <hivex.h>
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
#include "platform/hive/HivePlatform.h"
#include "platform/hive/HiveText.h"

namespace {

// Enough keys to reach every part of a seed, few enough to stay fast.
const std::size_t kKeyBudget = 96;
const std::size_t kDepthLimit = 12;

void Require(bool condition)
{
    if (!condition) std::abort();
}

// The file each input is written to, removed when the program ends.
struct ScratchFile {
    ScratchFile()
    {
        char name[] = "/tmp/quellor-hive-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        Require(fd >= 0);
        close(fd);
        path = name;
    }
    ~ScratchFile() { unlink(path.c_str()); }
    std::string path;
};

const std::string& ScratchPath()
{
    static ScratchFile scratch;
    return scratch.path;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Key paths of the hive in engine text, breadth first, bounded.
void WalkKeys(const std::string& path, std::vector<std::string>& keys)
{
    hive_h* hive = hivex_open(path.c_str(), 0);
    if (!hive) return;
    struct Pending {
        hive_node_h node;
        std::string path;
        std::size_t depth;
    };
    std::vector<Pending> queue = {{hivex_root(hive), "", 0}};
    for (std::size_t at = 0; at < queue.size() && keys.size() < kKeyBudget; ++at) {
        const Pending current = queue[at];
        keys.push_back(current.path);
        if (current.depth >= kDepthLimit) continue;
        hive_node_h* children = hivex_node_children(hive, current.node);
        for (std::size_t i = 0; children && children[i] && queue.size() < kKeyBudget; ++i) {
            char* name = hivex_node_name(hive, children[i]);
            const std::string text = hivetext::FromUtf8(name);
            std::free(name);
            queue.push_back({children[i], current.path.empty() ? text : current.path + "\\" + text, current.depth + 1});
        }
        std::free(children);
    }
    hivex_close(hive);
}

void CheckValues(Platform& platform, KeyRef key)
{
    std::uint32_t count = 0;
    if (platform.RegistryValueCount(key, count) != kRegistryOk) return;
    for (std::uint32_t index = 0; index < count && index < 64; ++index) {
        char name[40];
        std::memset(name, '#', sizeof name);
        std::uint32_t length = sizeof name - 8;
        const long listed = platform.RegistryEnumValue(key, index, name, length);
        if (listed != kRegistryOk) continue;
        Require(length < sizeof name - 8 && name[length] == '\0' && std::strlen(name) == length);
        Require(name[sizeof name - 8] == '#');

        std::uint32_t type = 0;
        std::uint32_t size = 0;
        if (platform.RegistryQueryValue(key, name, &type, nullptr, &size) != kRegistryOk) continue;
        std::vector<char> data(size + 16, '#');
        if (size > 0) {
            std::uint32_t shortSize = size - 1;
            Require(platform.RegistryQueryValue(key, name, &type, data.data(), &shortSize) == kRegistryMoreData);
            Require(shortSize == size && data[size - 1] == '#');
        }
        std::uint32_t fullSize = size + 16;
        Require(platform.RegistryQueryValue(key, name, &type, data.data(), &fullSize) == kRegistryOk);
        Require(fullSize == size && data[size] == '#');
        Require(platform.RegistryDeleteValue(key, name) != kRegistryOk);
    }
}

void Visit(Platform& platform, KeyRef root, const std::string& path, std::uint32_t view)
{
    KeyRef key = 0;
    if (platform.RegistryOpen(root, path.c_str(), kKeyAllAccess | view, key) != kRegistryOk) return;
    CheckValues(platform, key);
    platform.RegistryClose(key);
    if (!path.empty()) Require(platform.RegistryDeleteKey(root, path.c_str()) != kRegistryOk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string path = ScratchPath();
    const std::string input(reinterpret_cast<const char*>(bytes), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
    }

    FakePlatform fake;
    HivePlatform hives(fake);
    std::vector<std::string> problems;
    hives.MountMachine(path, path, problems);
    hives.AddUser(path, "C:\\Users\\fuzz", problems);
    Require(problems.empty() || problems.size() == 3);
    Require(problems.empty() != hives.HadDamagedHive());

    std::vector<std::string> keys;
    WalkKeys(path, keys);
    for (const std::string& key : keys) {
        Visit(hives, kKeyCurrentUser, key, 0);
        Visit(hives, kKeyLocalMachine, "Software\\" + key, 0);
        Visit(hives, kKeyLocalMachine, "Software\\" + key, kKeyView64);
        Visit(hives, kKeyLocalMachine, "SYSTEM\\" + key, 0);
    }
    Visit(hives, kKeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0);
    if (!problems.empty()) {
        KeyRef key = 0;
        Require(hives.RegistryOpen(kKeyCurrentUser, "", kKeyRead, key) != kRegistryOk);
    }

    for (const HivePlatform::Profile& profile : hives.Profiles()) Require(!profile.sid.empty());
    VersionInfo version;
    hives.QueryVersion(version);
    hives.Is64BitWindows();
    char expanded[64];
    std::memset(expanded, '#', sizeof expanded);
    const char text[] = "%SystemRoot%\\%ProgramFiles%\\%USERPROFILE%\\%TEMP%\\%Path%\\%SystemDrive%";
    const std::uint32_t needed = hives.ExpandEnvironment(text, expanded, 8);
    Require(needed > 0 && std::memcmp(expanded + 8, "########", 8) == 0);
    std::vector<char> whole(needed + 1, '#');
    Require(hives.ExpandEnvironment(text, whole.data(), needed) == needed);
    Require(std::strlen(whole.data()) + 1 == needed);
    hives.TakeProblems();

    Require(ReadAll(path) == input);
    return 0;
}
