// make_tree FOLDER [--files N] [--mib M] [--seed S]
//
// Writes a deterministic tree of files for the scanner benchmark into
// FOLDER (which must not exist yet): nested folders holding small and large
// PE images, ZIP and RAR archives (a quarter of them encrypted, with inner
// names no detector accepts), text files, web pages and empty files, about
// M MiB in N files, plus a few harmless planted files the scanner detects.
// The same arguments always give the same tree. Prints one line per planted
// file, "relative/path<TAB>threat name", on standard output.
//
// make_tree --clamav-rules FILE writes instead a ClamAV logical-signature
// file with one rule per record of the signature and archived-worm tables
// (both 20-byte patterns anywhere in the file; '/' in a name becomes '.'),
// the closest equivalent of the scanner's pattern tables. The encrypted-archive
// detectors judge headers and have no such equivalent.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures/InfectedFiles.h"
#include "scan/SignatureRecord.h"

namespace {

struct Random {
    std::uint64_t state;
    std::uint64_t Next()
    {
        // splitmix64
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t bound) { return bound ? static_cast<std::size_t>(Next() % bound) : 0; }
    std::size_t Between(std::size_t low, std::size_t high) { return low + Below(high - low + 1); }
};

enum Kind { SmallPe, LargePe, Zip, Rar, Text, Page, Empty, kKindCount };

struct KindRow {
    Kind kind;
    unsigned weight;  // per thousand files
    std::size_t low, high;
    const char* extension;
};

// Large images take whatever the byte budget leaves; their range is unused.
const KindRow kKinds[kKindCount] = {
    {SmallPe, 300, 8 << 10, 256 << 10, ".exe"}, {LargePe, 10, 0, 0, ".dll"},
    {Zip, 100, 4 << 10, 128 << 10, ".zip"},     {Rar, 50, 4 << 10, 128 << 10, ".rar"},
    {Text, 260, 1 << 10, 32 << 10, ".txt"},     {Page, 200, 1 << 10, 64 << 10, ".htm"},
    {Empty, 80, 0, 0, ".dat"},
};

// Bytes of no meaning, drawn from one pool so that gigabytes are quick to
// write; each file starts at its own place in the pool.
std::vector<char> pool;
void FillPool(Random& random)
{
    pool.resize(32u << 20);
    for (std::size_t i = 0; i < pool.size(); i += 8) {
        std::uint64_t value = random.Next();
        std::memcpy(&pool[i], &value, 8);
    }
}

std::string Filler(Random& random, std::size_t length)
{
    std::string bytes;
    bytes.reserve(length);
    while (bytes.size() < length) {
        std::size_t at = random.Below(pool.size());
        std::size_t take = std::min(length - bytes.size(), pool.size() - at);
        bytes.append(&pool[at], take);
    }
    return bytes;
}

void Le16(std::string& bytes, std::size_t at, std::uint32_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}
void Le32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    Le16(bytes, at, value & 0xFFFF);
    Le16(bytes, at + 2, value >> 16);
}

// A PE image with three sections laid out over the file.
std::string PeImage(Random& random, std::size_t length)
{
    if (length < 4096) length = 4096;
    std::string bytes = Filler(random, length);
    std::memset(&bytes[0], 0, 1024);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Le32(bytes, 60, 0x80);
    std::memcpy(&bytes[0x80], "PE\0\0", 4);
    Le16(bytes, 0x84, 0x14C);
    Le16(bytes, 0x86, 3);
    Le16(bytes, 0x94, 224);
    Le16(bytes, 0x98, 0x10B);
    Le32(bytes, 0x98 + 16, 0x1000);
    Le32(bytes, 0x98 + 60, 0x400);
    const std::size_t table = 0x98 + 224;
    const std::uint32_t raw = static_cast<std::uint32_t>((length - 0x400) / 3) & ~0x1FFu;
    const char* names[] = {".text", ".data", ".rsrc"};
    for (std::uint32_t s = 0; s < 3; ++s) {
        std::size_t row = table + s * 40;
        std::memcpy(&bytes[row], names[s], std::strlen(names[s]));
        Le32(bytes, row + 8, raw);                    // virtual size
        Le32(bytes, row + 12, 0x1000 + s * raw);      // virtual address
        Le32(bytes, row + 16, raw);                   // raw size
        Le32(bytes, row + 20, 0x400 + s * raw);       // raw position
    }
    return bytes;
}

// A single-entry ZIP or RAR archive with a harmless inner name.
std::string Archive(Random& random, Kind kind, std::size_t length)
{
    const bool encrypted = random.Below(4) == 0;
    static const char* const inner[] = {"notes.txt", "photo.jpg", "report.doc", "song.mp3"};
    const std::string name = inner[random.Below(4)];
    if (kind == Zip) {
        std::uint32_t size = static_cast<std::uint32_t>(length > 200 ? length - 200 : 100);
        return infected::EncryptedZip(name, size, encrypted ? 0x0001 : 0x0000);
    }
    std::string bytes = "Rar!\x1A\x07";
    bytes.push_back('\0');
    std::string main(13, '\0');
    main[2] = 0x73;
    Le16(main, 5, 13);
    bytes += main;
    std::string file(32, '\0');
    file[2] = 0x74;
    Le16(file, 3, 0x8000 | (encrypted ? 0x04 : 0x00));
    Le16(file, 5, static_cast<std::uint32_t>(32 + name.size()));
    Le32(file, 7, static_cast<std::uint32_t>(length));
    Le32(file, 11, static_cast<std::uint32_t>(length));
    file[25] = 0x30;  // stored
    Le16(file, 26, static_cast<std::uint32_t>(name.size()));
    bytes += file + name;
    bytes += Filler(random, length);
    return bytes;
}

std::string Words(Random& random, std::size_t length, bool page)
{
    static const char* const words[] = {"quarterly", "report", "meeting", "the", "and", "budget", "draft",
                                        "schedule", "invoice", "notes", "of", "for", "review", "team"};
    std::string text = page ? "<html><head><title>Page</title></head><body><p>\n" : "";
    while (text.size() < length) {
        text += words[random.Below(14)];
        text += random.Below(12) == 0 ? "\n" : " ";
    }
    if (page) text += "\n</p></body></html>\n";
    return text;
}

std::string Hex(const unsigned char* bytes)
{
    std::string hex;
    char pair[3];
    for (std::size_t i = 0; i < kPatternLength; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

int WriteClamRules(const char* path)
{
    std::FILE* out = std::fopen(path, "w");
    if (!out) return 2;
    auto rules = [&](const SignatureRecord* table, std::size_t count) {
        for (std::size_t i = 0; i < count && table[i].name[0]; ++i) {
            std::string name(table[i].name, strnlen(table[i].name, sizeof table[i].name));
            for (char& c : name) {
                if (c == '/') c = '.';
            }
            std::fprintf(out, "%s.r%zu;Target:0;0&1;%s;%s\n", name.c_str(), i, Hex(table[i].pattern1).c_str(),
                         Hex(table[i].pattern2).c_str());
        }
    };
    rules(SignatureTable, kSignatureTableEntries);
    rules(ArchiveWormTable, kArchiveWormTableEntries);
    return std::fclose(out) == 0 ? 0 : 2;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

struct Planted {
    std::string bytes;
    const char* threat;
    const char* name;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: make_tree FOLDER [--files N] [--mib M] [--seed S]\n", stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--clamav-rules") == 0) return argc == 3 ? WriteClamRules(argv[2]) : 2;
    const std::string root = argv[1];
    std::size_t files = 20000;
    std::size_t mib = 2048;
    std::uint64_t seed = 1;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0) files = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    if (mkdir(root.c_str(), 0755) != 0) {
        std::fprintf(stderr, "make_tree: cannot create %s: %s\n", root.c_str(), std::strerror(errno));
        return 2;
    }
    Random random{seed};
    FillPool(random);

    // Folders: each one under the root or under an earlier folder.
    std::vector<std::string> folders{""};
    const std::size_t folderCount = files / 40 + 1;
    for (std::size_t i = 1; i < folderCount; ++i) {
        const std::string& parent = folders[random.Below(folders.size())];
        char name[32];
        std::snprintf(name, sizeof name, "folder%04zu", i);
        folders.push_back(parent.empty() ? name : parent + "/" + name);
        mkdir((root + "/" + folders.back()).c_str(), 0755);
    }

    // Kinds and sizes first, so the large images can take the budget left.
    std::vector<Kind> kinds(files);
    std::vector<std::size_t> sizes(files);
    std::size_t used = 0;
    std::size_t large = 0;
    for (std::size_t i = 0; i < files; ++i) {
        std::size_t pick = random.Below(1000);
        Kind kind = Empty;
        for (const KindRow& row : kKinds) {
            if (pick < row.weight) {
                kind = row.kind;
                break;
            }
            pick -= row.weight;
        }
        kinds[i] = kind;
        sizes[i] = kind == LargePe ? 0 : random.Between(kKinds[kind].low, kKinds[kind].high);
        used += sizes[i];
        if (kind == LargePe) ++large;
    }
    const std::size_t budget = mib << 20;
    const std::size_t largeSize = large && budget > used ? (budget - used) / large : (1u << 20);

    std::size_t total = 0;
    for (std::size_t i = 0; i < files; ++i) {
        const Kind kind = kinds[i];
        std::string bytes;
        switch (kind) {
        case SmallPe: bytes = PeImage(random, sizes[i]); break;
        case LargePe: bytes = PeImage(random, largeSize); break;
        case Zip:
        case Rar: bytes = Archive(random, kind, sizes[i]); break;
        case Text: bytes = Words(random, sizes[i], false); break;
        case Page: bytes = Words(random, sizes[i], true); break;
        default: break;
        }
        char name[32];
        std::snprintf(name, sizeof name, "file%06zu%s", i, kKinds[kind].extension);
        const std::string& folder = folders[random.Below(folders.size())];
        const std::string path = root + "/" + (folder.empty() ? "" : folder + "/") + name;
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "make_tree: cannot write %s\n", path.c_str());
            return 2;
        }
        total += bytes.size();
    }

    // The planted files: executables of two signature records, an archived
    // worm and an encrypted worm archive, spread over the folders.
    const Planted planted[] = {
        {infected::SignaturePe(SignatureTable[2]), "W32/Murkel.A.Trojan", "setup.exe"},
        {infected::SignaturePe(SignatureTable[5]), nullptr, "update.exe"},
        {infected::WormZip(ArchiveWormTable[0], 12288), "W32/Bagle.C.Worm", "photos.zip"},
        {infected::EncryptedZip(), "W32/Bagle.H.Worm", "message.zip"},
    };
    const std::size_t plantCount = files >= 4000 ? 8 : 4;
    for (std::size_t i = 0; i < plantCount; ++i) {
        const Planted& plant = planted[i % 4];
        const std::string& folder = folders[random.Below(folders.size())];
        char name[64];
        std::snprintf(name, sizeof name, "planted%zu-%s", i, plant.name);
        const std::string relative = (folder.empty() ? "" : folder + "/") + name;
        if (!WriteFile(root + "/" + relative, plant.bytes)) return 2;
        const char* threat = plant.threat ? plant.threat : SignatureTable[5].name;
        std::printf("%s\t%s\n", relative.c_str(), threat);
        total += plant.bytes.size();
    }
    std::fprintf(stderr, "make_tree: %zu files, %zu folders, %zu bytes in %s\n", files + plantCount, folders.size(),
                 total, root.c_str());
    return 0;
}
