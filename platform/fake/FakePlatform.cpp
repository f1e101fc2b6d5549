#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cstring>

#include "platform/AnsiText.h"
#include "platform/ListingRules.h"

struct FakePlatform::Node {
    std::string name;
    std::uint32_t attributes = 0;
    std::string content;
    std::vector<std::unique_ptr<Node>> children;
    Node* parent = nullptr;
    bool deleteLocked = false;
    bool openLocked = false;
    bool attributesLocked = false;
    std::uint32_t heldByProcess = 0;
    std::string shortPath;
    // The 8.3 name the enumeration reports and lookups accept (empty: none).
    std::string shortName;
    // A directory reparse point: its contents are those of `linkTarget`.
    std::string linkTarget;
    std::uint32_t reparseTag = 0;
    bool volumeMount = false;
    std::int64_t sparseLength = -1;  // set: the file's length, zeros past the content

    bool IsFolder() const { return (attributes & kAttrDirectory) != 0; }
    std::int64_t Length() const
    {
        const std::int64_t stored = static_cast<std::int64_t>(content.size());
        return sparseLength > stored ? sparseLength : stored;
    }
};

struct FakePlatform::Key {
    struct Value {
        std::string name;
        std::uint32_t type;
        std::string data;
        bool deleteLocked;  // deleting it is refused (access denied)
    };
    std::string name;
    std::vector<Value> values;
    std::vector<std::unique_ptr<Key>> subkeys;
};

namespace {

std::string Upper(std::string text)
{
    for (char& c : text) c = UpperAscii(c);
    return text;
}

bool SameName(const std::string& a, const std::string& b)
{
    return Upper(a) == Upper(b);
}

std::vector<std::string> SplitComponents(const std::string& text)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

// True when `path` is `folder` or lies inside it (without regard to case);
// `rest` is then what follows the folder, from its backslash on.
bool UnderFolder(const std::string& path, const std::string& folder, std::string& rest)
{
    if (path.size() < folder.size() || !SameName(path.substr(0, folder.size()), folder)) return false;
    if (path.size() > folder.size() && path[folder.size()] != '\\') return false;
    rest = path.substr(folder.size());
    return true;
}

// Subfolders of System32 that WoW64 leaves unredirected (Windows 7 and later).
const char* const kRedirectionExempt[] = {"\\catroot", "\\catroot2", "\\driverstore", "\\drivers\\etc",
                                          "\\logfiles", "\\spool"};

std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t size)
{
    // The platform's convention for folder and path queries: the length on
    // success, the size needed (terminator included) when the buffer is small.
    if (text.size() + 1 > size) return static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
}

}  // namespace

FakePlatform::FakePlatform()
    : toolHelpAvailable(true),
      psapiAvailable(true),
      fullImageNameAvailable(true),
      debugPrivilegeEnabled(false),
      serviceManagerFails(false),
      versionQueryFails(false),
      wow64(false),
      nativeAliasAvailable(true),
      windowsFolder("C:\\WINDOWS"),
      tempFolder("C:\\WINDOWS\\TEMP\\"),
      shortPathFails(false),
      rebootRemovalResult(true),
      writeBudget(-1),
      lastError(0),
      privilegeResult(PrivilegeEnabled),
      rebootResult(true),
      defaultPromptAnswer(kAnswerNo),
      nextFile_(3),
      nextSearch_(1),
      currentUser_(new Key),
      localMachine_(new Key),
      nextKey_(1),
      performanceDataOpen_(false),
      nextProcessId_(100),
      nextSnapshot_(1),
      nextProcessRef_(1),
      nextService_(1)
{
    version.platformId = 2;
    version.majorVersion = 5;
    version.minorVersion = 1;
    version.buildNumber = 2600;
}

FakePlatform::~FakePlatform() = default;

std::string FakePlatform::ProgramView(const char* path) const
{
    std::string text = path ? path : "";
    if (!wow64) return text;
    std::string rest;
    if (UnderFolder(text, windowsFolder + "\\Sysnative", rest)) {
        return nativeAliasAvailable ? windowsFolder + "\\System32" + rest : text;
    }
    if (!UnderFolder(text, windowsFolder + "\\System32", rest)) return text;
    std::string inner;
    for (const char* exempt : kRedirectionExempt) {
        if (UnderFolder(rest, exempt, inner)) return text;
    }
    return windowsFolder + "\\SysWOW64" + rest;
}

std::string FakePlatform::RegistryView(KeyRef hive, const char* subkey, std::uint32_t access) const
{
    std::string text = subkey ? subkey : "";
    if (!wow64 || hive != kKeyLocalMachine || (access & kKeyView64)) return text;
    std::vector<std::string> parts = SplitComponents(text);
    if (parts.empty() || !SameName(parts[0], "Software")) return text;
    if (parts.size() > 1 && SameName(parts[1], "Wow6432Node")) return text;
    std::string redirected = parts[0] + "\\Wow6432Node";
    for (std::size_t i = 1; i < parts.size(); ++i) redirected += "\\" + parts[i];
    return redirected;
}

// ---------------------------------------------------------------- files

FakePlatform::Node* FakePlatform::Root(char letter) const
{
    letter = UpperAscii(letter);
    auto found = roots_.find(letter);
    return found == roots_.end() ? nullptr : found->second.get();
}

FakePlatform::Node* FakePlatform::Resolve(const std::string& path, bool followFinalLink) const
{
    if (path.size() < 2 || path[1] != ':') return nullptr;
    Node* node = Root(path[0]);
    if (!node) return nullptr;
    std::vector<std::string> parts = SplitComponents(path.substr(2));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!node->IsFolder()) return nullptr;
        Node* next = nullptr;
        // '?' and '*' are not characters of a name: a long name that lost
        // characters to the ANSI code page names nothing, as on the real
        // platform; its short name still does.
        if (parts[i].find_first_of("?*") != std::string::npos) return nullptr;
        for (auto& child : node->children) {
            if (SameName(child->name, parts[i]) || (!child->shortName.empty() && SameName(child->shortName, parts[i]))) {
                next = child.get();
                break;
            }
        }
        if (!next) return nullptr;
        bool last = i + 1 == parts.size();
        // Links are followed a bounded number of times so a loop of links
        // cannot hang a lookup.
        for (int hops = 0; !next->linkTarget.empty() && (!last || followFinalLink); ++hops) {
            if (hops == 16) return nullptr;
            Node* target = Resolve(next->linkTarget, false);
            if (!target) return nullptr;
            next = target;
        }
        node = next;
    }
    // A trailing backslash names a folder: "file.txt\" is not the file.
    if (path.back() == '\\' && !node->IsFolder()) return nullptr;
    return node;
}

FakePlatform::Node* FakePlatform::MakeFolders(const std::string& path)
{
    Node* node = Root(path[0]);
    if (!node) {
        AddDrive(path[0], DriveFixed);
        node = Root(path[0]);
    }
    for (const std::string& part : SplitComponents(path.substr(2))) {
        Node* next = nullptr;
        for (auto& child : node->children) {
            if (SameName(child->name, part)) next = child.get();
        }
        if (!next) {
            std::unique_ptr<Node> folder(new Node);
            folder->name = part;
            folder->attributes = kAttrDirectory;
            folder->parent = node;
            next = folder.get();
            node->children.push_back(std::move(folder));
        }
        node = next;
    }
    return node;
}

void FakePlatform::AddDrive(char letter, int type)
{
    letter = UpperAscii(letter);
    driveTypes_[letter] = type;
    if (!roots_.count(letter)) {
        std::unique_ptr<Node> root(new Node);
        root->name = std::string(1, letter) + ":";
        root->attributes = kAttrDirectory;
        roots_[letter] = std::move(root);
    }
}

void FakePlatform::AddFolder(const std::string& path, std::uint32_t attributes)
{
    MakeFolders(path)->attributes = attributes | kAttrDirectory;
}

void FakePlatform::AddFile(const std::string& path, const std::string& content, std::uint32_t attributes)
{
    std::size_t slash = path.rfind('\\');
    Node* folder = MakeFolders(path.substr(0, slash));
    std::string name = path.substr(slash + 1);
    for (auto& child : folder->children) {
        if (SameName(child->name, name)) {
            child->content = content;
            child->attributes = attributes & ~kAttrDirectory;
            return;
        }
    }
    std::unique_ptr<Node> file(new Node);
    file->name = name;
    file->attributes = attributes & ~kAttrDirectory;
    file->content = content;
    file->parent = folder;
    folder->children.push_back(std::move(file));
}

void FakePlatform::AddLink(const std::string& path, const std::string& target, std::uint32_t reparseTag,
                           bool volumeMount)
{
    Node* node = MakeFolders(path);
    node->attributes = kAttrDirectory | kAttrReparsePoint;
    node->linkTarget = target;
    node->reparseTag = reparseTag;
    node->volumeMount = volumeMount;
}

void FakePlatform::SetEnumerationOrder(const std::string& folder, const std::vector<std::string>& names)
{
    Node* node = Resolve(folder);
    if (!node) return;
    std::stable_sort(node->children.begin(), node->children.end(),
                     [&names](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) {
                         auto rank = [&names](const std::string& name) {
                             for (std::size_t i = 0; i < names.size(); ++i) {
                                 if (SameName(names[i], name)) return i;
                             }
                             return names.size();
                         };
                         return rank(a->name) < rank(b->name);
                     });
}

bool FakePlatform::Exists(const std::string& path) const
{
    return Resolve(path, false) != nullptr;
}

bool FakePlatform::IsFolder(const std::string& path) const
{
    Node* node = Resolve(path);
    return node && node->IsFolder();
}

std::string FakePlatform::Content(const std::string& path) const
{
    Node* node = Resolve(path);
    return node ? node->content : std::string();
}

std::uint32_t FakePlatform::Attributes(const std::string& path) const
{
    Node* node = Resolve(path, false);
    return node ? node->attributes : 0;
}

void FakePlatform::LockAgainstDelete(const std::string& path, bool locked)
{
    if (Node* node = Resolve(path, false)) node->deleteLocked = locked;
}

void FakePlatform::SetSparseLength(const std::string& path, std::int64_t length)
{
    if (Node* node = Resolve(path)) node->sparseLength = length;
}

void FakePlatform::LockAgainstOpen(const std::string& path, bool locked)
{
    if (Node* node = Resolve(path, false)) node->openLocked = locked;
}

void FakePlatform::LockAttributes(const std::string& path, bool locked)
{
    if (Node* node = Resolve(path, false)) node->attributesLocked = locked;
}

void FakePlatform::HoldOpenByProcess(const std::string& path, std::uint32_t processId)
{
    if (Node* node = Resolve(path, false)) node->heldByProcess = processId;
}

void FakePlatform::SetAnsiLongName(const std::string& path, const std::string& longName)
{
    Node* node = Resolve(path, false);
    if (!node) return;
    node->shortName = node->name;
    node->name = longName;
}

void FakePlatform::SetShortPath(const std::string& path, const std::string& shortPath)
{
    if (Node* node = Resolve(path, false)) node->shortPath = shortPath;
}

bool FakePlatform::QueryVersion(VersionInfo& info)
{
    if (versionQueryFails) return false;
    info = version;
    return true;
}

int FakePlatform::QueryDriveType(const char* root)
{
    if (!root || !root[0]) return DriveNoRootDir;
    char letter = root[0];
    letter = UpperAscii(letter);
    auto found = driveTypes_.find(letter);
    return found == driveTypes_.end() ? DriveNoRootDir : found->second;
}

SearchRef FakePlatform::FindFirstEntry(const char* pattern, DirEntry& entry)
{
    findPatterns.push_back(pattern);
    std::string text = ProgramView(pattern);
    std::size_t slash = text.rfind('\\');
    if (slash == std::string::npos) return 0;
    std::string folderPath = text.substr(0, slash);
    std::string namePattern = text.substr(slash + 1);
    Node* folder = folderPath.size() == 2 ? Root(folderPath[0]) : Resolve(folderPath);
    if (!folder || !folder->IsFolder() || namePattern.empty()) return 0;

    Search search;
    search.next = 0;
    auto add = [&search](const std::string& name, const std::string& shortName, std::uint32_t attributes,
                         std::uint32_t tag) {
        DirEntry found;
        std::memset(&found, 0, sizeof found);
        std::strncpy(found.name, name.c_str(), sizeof found.name - 1);
        std::strncpy(found.shortName, shortName.c_str(), sizeof found.shortName - 1);
        found.attributes = attributes;
        found.reparseTag = tag;
        search.entries.push_back(found);
    };
    for (const char* dot : kDotEntryNames) {
        if (ListsDotEntry(namePattern.c_str(), dot, folder->parent == nullptr)) add(dot, "", kAttrDirectory, 0);
    }
    for (auto& child : folder->children) {
        if (MaskMatchesName(namePattern.c_str(), child->name.c_str())) {
            add(child->name, child->shortName, child->attributes,
                (child->attributes & kAttrReparsePoint) ? child->reparseTag : 0);
        }
    }
    if (search.entries.empty()) return 0;
    entry = search.entries[0];
    search.next = 1;
    SearchRef handle = nextSearch_++;
    searches_[handle] = search;
    return handle;
}

bool FakePlatform::FindNextEntry(SearchRef handle, DirEntry& entry)
{
    auto found = searches_.find(handle);
    if (found == searches_.end() || found->second.next >= found->second.entries.size()) return false;
    entry = found->second.entries[found->second.next++];
    return true;
}

void FakePlatform::FindEnd(SearchRef handle)
{
    searches_.erase(handle);
}

bool FakePlatform::PathExists(const char* path)
{
    return Resolve(ProgramView(path)) != nullptr;
}

bool FakePlatform::PathReadable(const char* path)
{
    Node* node = Resolve(ProgramView(path));
    return node && !node->openLocked;
}

bool FakePlatform::IsVolumeMountPoint(const char* path)
{
    Node* node = Resolve(ProgramView(path), false);
    return node && !node->linkTarget.empty() && node->volumeMount;
}

FileRef FakePlatform::OpenHandle(Node* node, bool forWrite, bool append)
{
    if (!node || node->IsFolder() || node->openLocked) return kNoFile;
    if (forWrite && (node->attributes & kAttrReadOnly)) return kNoFile;
    FileRef handle = nextFile_++;
    openFiles_[handle] = OpenFile{node, 0, forWrite, append};
    return handle;
}

FileRef FakePlatform::OpenForRead(const char* path)
{
    return OpenHandle(Resolve(ProgramView(path)), false, false);
}

FileRef FakePlatform::OpenForWrite(const char* path)
{
    return OpenHandle(Resolve(ProgramView(path)), true, false);
}

FileRef FakePlatform::CreateForAppend(const char* path)
{
    std::string text = ProgramView(path);
    if (!Resolve(text)) {
        std::size_t slash = text.rfind('\\');
        if (slash == std::string::npos) return kNoFile;
        Node* folder = Resolve(text.substr(0, slash));
        if (!folder || !folder->IsFolder()) return kNoFile;
        AddFile(text, std::string(), kAttrArchive);
    }
    return OpenHandle(Resolve(text), true, true);
}

std::int32_t FakePlatform::ReadBytes(FileRef file, void* buffer, std::uint32_t count)
{
    auto found = openFiles_.find(file);
    if (found == openFiles_.end() || found->second.forWrite) return -1;
    OpenFile& open = found->second;
    fileReads.push_back(FileRead{open.position, count});
    const std::string& content = open.node->content;
    const std::int64_t length = open.node->Length();
    if (open.position >= length) return 0;
    std::size_t taken = static_cast<std::size_t>(std::min<std::int64_t>(length - open.position, count));
    // Past the stored content a sparse file reads as zeros.
    std::size_t stored = 0;
    if (open.position < static_cast<std::int64_t>(content.size())) {
        stored = std::min<std::size_t>(taken, content.size() - static_cast<std::size_t>(open.position));
        std::memcpy(buffer, content.data() + open.position, stored);
    }
    std::memset(static_cast<char*>(buffer) + stored, 0, taken - stored);
    open.position += static_cast<std::int64_t>(taken);
    return static_cast<std::int32_t>(taken);
}

std::int32_t FakePlatform::WriteBytes(FileRef file, const void* data, std::uint32_t count)
{
    auto found = openFiles_.find(file);
    if (found == openFiles_.end() || !found->second.forWrite) return -1;
    OpenFile& open = found->second;
    std::string& content = open.node->content;
    std::size_t allowed = count;
    if (writeBudget >= 0) {
        allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(writeBudget));
        writeBudget -= static_cast<long>(allowed);
    }
    if (open.append) open.position = static_cast<std::int64_t>(content.size());
    std::size_t at = static_cast<std::size_t>(open.position);
    if (content.size() < at + allowed) content.resize(at + allowed, '\0');
    content.replace(at, allowed, static_cast<const char*>(data), allowed);
    open.position += static_cast<std::int64_t>(allowed);
    return static_cast<std::int32_t>(allowed);
}

std::int32_t FakePlatform::SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin)
{
    auto found = openFiles_.find(file);
    if (found == openFiles_.end()) return -1;
    OpenFile& open = found->second;
    std::int64_t base = 0;
    if (origin == SeekFromCurrent) base = open.position;
    if (origin == SeekFromEnd) base = open.node->Length();
    std::int64_t target = base + offset;
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    open.position = target;
    return static_cast<std::int32_t>(target);
}

std::int32_t FakePlatform::FileLength(FileRef file)
{
    auto found = openFiles_.find(file);
    if (found == openFiles_.end()) return -1;
    // The runtime's result is the low 32 bits of the position of the end,
    // which a seek can only reach below 4 GiB.
    const std::int64_t length = found->second.node->Length();
    if (length > 0xFFFFFFFFLL) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(length));
}

void FakePlatform::CloseFile(FileRef file)
{
    openFiles_.erase(file);
}

bool FakePlatform::SetAttributes(const char* path, std::uint32_t attributes)
{
    Node* node = Resolve(ProgramView(path), false);
    if (!node || node->attributesLocked) return false;
    std::uint32_t kept = node->attributes & (kAttrDirectory | kAttrReparsePoint);
    node->attributes = kept | (attributes & ~(kAttrDirectory | kAttrReparsePoint));
    return true;
}

namespace {
bool RunningHolder(const std::vector<FakePlatform::FakeProcess>& processes, std::uint32_t processId)
{
    for (const auto& process : processes) {
        if (process.processId == processId && process.running) return true;
    }
    return false;
}
}  // namespace

bool FakePlatform::RemoveFile(const char* path)
{
    Node* node = Resolve(ProgramView(path), false);
    if (!node || node->IsFolder() || !node->parent) return false;
    if (node->deleteLocked || (node->attributes & kAttrReadOnly)) return false;
    if (node->heldByProcess && RunningHolder(processes_, node->heldByProcess)) return false;
    for (const auto& open : openFiles_) {
        if (open.second.node == node) return false;  // opened without delete sharing
    }
    auto& siblings = node->parent->children;
    siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                                [node](const std::unique_ptr<Node>& child) { return child.get() == node; }));
    return true;
}

bool FakePlatform::RenameFile(const char* from, const char* to)
{
    Node* node = Resolve(ProgramView(from), false);
    if (!node || !node->parent || node->deleteLocked) return false;
    if (node->heldByProcess && RunningHolder(processes_, node->heldByProcess)) return false;
    for (const auto& open : openFiles_) {
        if (open.second.node == node) return false;
    }
    std::string target = ProgramView(to);
    // A move onto the file's own name succeeds without changing anything,
    // as it does on the real platform.
    if (Node* existing = Resolve(target, false)) return existing == node;
    std::size_t slash = target.rfind('\\');
    if (slash == std::string::npos) return false;
    Node* folder = target.size() > 2 && slash == 2 ? Root(target[0]) : Resolve(target.substr(0, slash));
    if (!folder || !folder->IsFolder()) return false;
    auto& siblings = node->parent->children;
    auto position = std::find_if(siblings.begin(), siblings.end(),
                                 [node](const std::unique_ptr<Node>& child) { return child.get() == node; });
    std::unique_ptr<Node> moved = std::move(*position);
    siblings.erase(position);
    moved->name = target.substr(slash + 1);
    moved->parent = folder;
    folder->children.push_back(std::move(moved));
    return true;
}

bool FakePlatform::CopyFileOver(const char* from, const char* to)
{
    Node* source = Resolve(ProgramView(from));
    if (!source || source->IsFolder()) return false;
    std::string target = ProgramView(to);
    Node* existing = Resolve(target);
    // The source is open for reading while the target is opened for writing;
    // on one file the two opens collide (a sharing violation).
    if (existing == source) return false;
    if (existing && (existing->IsFolder() || (existing->attributes & kAttrReadOnly))) return false;
    std::size_t slash = target.rfind('\\');
    if (slash == std::string::npos) return false;
    Node* folder = slash == 2 ? Root(target[0]) : Resolve(target.substr(0, slash));
    if (!folder || !folder->IsFolder()) return false;
    std::string content = source->content;
    AddFile(target, content, source->attributes);
    return true;
}

bool FakePlatform::RemoveAtReboot(const char* path)
{
    // The request is stored under the name the system itself reads at its
    // next start: the redirector maps the program's name as for any file
    // call (64-bit Windows since Server 2003 SP1 and XP x64).
    rebootRemovals.push_back(ProgramView(path));
    return rebootRemovalResult;
}

std::uint32_t FakePlatform::ShortPathOf(const char* path, char* out, std::uint32_t size)
{
    Node* node = Resolve(ProgramView(path), false);
    if (shortPathFails || !node) return 0;
    return CopyOut(node->shortPath.empty() ? std::string(path) : node->shortPath, out, size);
}

std::uint32_t FakePlatform::WindowsFolder(char* out, std::uint32_t size)
{
    return CopyOut(windowsFolder, out, size);
}

std::uint32_t FakePlatform::TempFolder(char* out, std::uint32_t size)
{
    return CopyOut(tempFolder, out, size);
}

std::uint32_t FakePlatform::SystemFolder(char* out, std::uint32_t size)
{
    return CopyOut(windowsFolder + "\\system32", out, size);
}

bool FakePlatform::RunsUnderWow64()
{
    return wow64;
}

std::uint32_t FakePlatform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    std::string result;
    for (const char* p = text; *p;) {
        const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
        if (close) {
            auto found = environment.find(Upper(std::string(p + 1, close)));
            if (found != environment.end()) {
                result += found->second;
                p = close + 1;
                continue;
            }
        }
        result += *p++;
    }
    std::uint32_t needed = static_cast<std::uint32_t>(result.size() + 1);
    if (needed <= size) std::memcpy(out, result.c_str(), needed);
    return needed;
}

// ---------------------------------------------------------------- registry

FakePlatform::Key* FakePlatform::FindKey(KeyRef hive, const std::string& path, bool create) const
{
    Key* key = nullptr;
    if (hive == kKeyCurrentUser) key = currentUser_.get();
    else if (hive == kKeyLocalMachine) key = localMachine_.get();
    else key = KeyOf(hive);
    if (!key) return nullptr;
    for (const std::string& part : SplitComponents(path)) {
        Key* next = nullptr;
        for (auto& subkey : key->subkeys) {
            if (SameName(subkey->name, part)) next = subkey.get();
        }
        if (!next) {
            if (!create) return nullptr;
            std::unique_ptr<Key> made(new Key);
            made->name = part;
            next = made.get();
            key->subkeys.push_back(std::move(made));
        }
        key = next;
    }
    return key;
}

FakePlatform::Key* FakePlatform::KeyOf(KeyRef key) const
{
    if (key == kKeyCurrentUser) return currentUser_.get();
    if (key == kKeyLocalMachine) return localMachine_.get();
    auto found = openKeys_.find(key);
    return found == openKeys_.end() ? nullptr : found->second;
}

void FakePlatform::SetRegistryValue(KeyRef hive, const std::string& key, const std::string& name,
                                    std::uint32_t type, const std::string& data)
{
    Key* target = FindKey(hive, key, true);
    for (auto& value : target->values) {
        if (SameName(value.name, name)) {
            value.type = type;
            value.data = data;
            return;
        }
    }
    target->values.push_back(Key::Value{name, type, data, false});
}

void FakePlatform::SetRegistryString(KeyRef hive, const std::string& key, const std::string& name,
                                     const std::string& text)
{
    SetRegistryValue(hive, key, name, kRegSz, text + std::string(1, '\0'));
}

void FakePlatform::LockRegistryValue(KeyRef hive, const std::string& key, const std::string& name, bool locked)
{
    Key* target = FindKey(hive, key, false);
    if (!target) return;
    for (auto& value : target->values) {
        if (SameName(value.name, name)) value.deleteLocked = locked;
    }
}

void FakePlatform::AddRegistryKey(KeyRef hive, const std::string& key)
{
    FindKey(hive, key, true);
}

bool FakePlatform::HasRegistryValue(KeyRef hive, const std::string& key, const std::string& name) const
{
    Key* target = FindKey(hive, key, false);
    if (!target) return false;
    for (const auto& value : target->values) {
        if (SameName(value.name, name)) return true;
    }
    return false;
}

bool FakePlatform::HasRegistryKey(KeyRef hive, const std::string& key) const
{
    return FindKey(hive, key, false) != nullptr;
}

std::vector<std::string> FakePlatform::RegistryValueNames(KeyRef hive, const std::string& key) const
{
    std::vector<std::string> names;
    if (Key* target = FindKey(hive, key, false)) {
        for (const auto& value : target->values) names.push_back(value.name);
    }
    return names;
}

int FakePlatform::OpenKeyCount() const
{
    return static_cast<int>(openKeys_.size()) + (performanceDataOpen_ ? 1 : 0);
}

long FakePlatform::RegistryOpen(KeyRef parent, const char* subkey, std::uint32_t access, KeyRef& key)
{
    key = 0;
    keyOpens.push_back(KeyOpen{parent, subkey ? subkey : "", access});
    if (parent == kKeyPerformanceData) {
        key = kKeyPerformanceData;
        performanceDataOpen_ = true;
        return kRegistryOk;
    }
    if (!KeyOf(parent)) return 6;  // ERROR_INVALID_HANDLE
    Key* found = FindKey(parent, RegistryView(parent, subkey, access), false);
    if (!found) return kRegistryNotFound;
    key = 0x1000 + nextKey_++;
    openKeys_[key] = found;
    openKeyAccess_[key] = access;
    return kRegistryOk;
}

long FakePlatform::RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                                      std::uint32_t* size)
{
    const std::string* stored = nullptr;
    std::uint32_t storedType = kRegBinary;
    if (key == kKeyPerformanceData) {
        // As on the platform, querying the predefined key opens it; it stays
        // open until it is closed.
        performanceDataOpen_ = true;
        auto found = performanceData.find(name ? name : "");
        if (found == performanceData.end()) return kRegistryNotFound;
        stored = &found->second;
    } else {
        Key* target = KeyOf(key);
        if (!target) return 6;
        for (const auto& value : target->values) {
            if (SameName(value.name, name ? name : "")) {
                stored = &value.data;
                storedType = value.type;
            }
        }
        if (!stored) return kRegistryNotFound;
    }
    if (type) *type = storedType;
    if (!size) return data ? 87 : kRegistryOk;  // ERROR_INVALID_PARAMETER
    std::uint32_t length = static_cast<std::uint32_t>(stored->size());
    if (data && *size < length) {
        *size = length;
        return kRegistryMoreData;
    }
    if (data) std::memcpy(data, stored->data(), length);
    *size = length;
    return kRegistryOk;
}

long FakePlatform::RegistryValueCount(KeyRef key, std::uint32_t& count)
{
    Key* target = KeyOf(key);
    if (!target) return 6;
    count = static_cast<std::uint32_t>(target->values.size());
    return kRegistryOk;
}

long FakePlatform::RegistryEnumValue(KeyRef key, std::uint32_t index, char* name, std::uint32_t& nameLength)
{
    Key* target = KeyOf(key);
    if (!target) return 6;
    if (index >= target->values.size()) return kRegistryNoMoreItems;
    const std::string& found = target->values[index].name;
    if (found.size() >= nameLength) return kRegistryMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    nameLength = static_cast<std::uint32_t>(found.size());
    return kRegistryOk;
}

long FakePlatform::RegistryDeleteValue(KeyRef key, const char* name)
{
    Key* target = KeyOf(key);
    if (!target) return 6;
    // As on the platform, a handle opened without KEY_SET_VALUE cannot delete.
    auto access = openKeyAccess_.find(key);
    if (access != openKeyAccess_.end() && !(access->second & kKeySetValue)) return kRegistryAccessDenied;
    for (auto value = target->values.begin(); value != target->values.end(); ++value) {
        if (SameName(value->name, name ? name : "")) {
            if (value->deleteLocked) return kRegistryAccessDenied;
            target->values.erase(value);
            return kRegistryOk;
        }
    }
    return kRegistryNotFound;
}

long FakePlatform::RegistryDeleteKey(KeyRef parent, const char* subkey)
{
    keyDeletionRequests.push_back(subkey ? subkey : "");
    // RegDeleteKeyA has no access mask: it always works in the program's view.
    std::vector<std::string> parts = SplitComponents(RegistryView(parent, subkey, 0));
    if (parts.empty()) return kRegistryNotFound;
    std::string parentPath;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) parentPath += parts[i] + "\\";
    Key* holder = FindKey(parent, parentPath, false);
    if (!holder) return kRegistryNotFound;
    for (auto child = holder->subkeys.begin(); child != holder->subkeys.end(); ++child) {
        if (!SameName((*child)->name, parts.back())) continue;
        // As on the NT family, a key that still has subkeys is refused.
        if (!(*child)->subkeys.empty()) return kRegistryAccessDenied;
        Key* removed = child->get();
        for (auto open = openKeys_.begin(); open != openKeys_.end();) {
            if (open->second == removed) {
                openKeyAccess_.erase(open->first);
                open = openKeys_.erase(open);
            }
            else ++open;
        }
        holder->subkeys.erase(child);
        return kRegistryOk;
    }
    return kRegistryNotFound;
}

void FakePlatform::RegistryClose(KeyRef key)
{
    if (key == kKeyPerformanceData) performanceDataOpen_ = false;
    openKeys_.erase(key);
    openKeyAccess_.erase(key);
}

// ---------------------------------------------------------------- processes

std::uint32_t FakePlatform::AddProcess(const std::string& imagePath, bool canOpen, bool canTerminate)
{
    std::uint32_t id = nextProcessId_;
    nextProcessId_ += 4;
    processes_.push_back(FakeProcess{id, imagePath, canOpen, canTerminate, true});
    return id;
}

void FakePlatform::RequireDebugPrivilege(std::uint32_t processId)
{
    for (auto& process : processes_) {
        if (process.processId == processId) process.needsDebugPrivilege = true;
    }
}

void FakePlatform::MakeSixtyFourBit(std::uint32_t processId)
{
    for (auto& process : processes_) {
        if (process.processId == processId) process.is64Bit = true;
    }
}

int FakePlatform::OpenProcessCount() const
{
    return static_cast<int>(openProcesses_.size());
}

const FakePlatform::FakeProcess* FakePlatform::FindProcess(std::uint32_t processId) const
{
    for (const auto& process : processes_) {
        if (process.processId == processId) return &process;
    }
    return nullptr;
}

SnapshotRef FakePlatform::ProcessSnapshot()
{
    if (!toolHelpAvailable) return 0;
    SnapshotRef handle = nextSnapshot_++;
    snapshots_[handle] = 0;
    return handle;
}

namespace {
bool NextRunning(const std::vector<FakePlatform::FakeProcess>& processes, std::size_t& cursor, ProcessEntry& entry)
{
    while (cursor < processes.size() && !processes[cursor].running) ++cursor;
    if (cursor >= processes.size()) return false;
    std::memset(&entry, 0, sizeof entry);
    entry.processId = processes[cursor].processId;
    std::strncpy(entry.exeFile, processes[cursor].imagePath.c_str(), sizeof entry.exeFile - 1);
    ++cursor;
    return true;
}
}  // namespace

bool FakePlatform::ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry)
{
    auto found = snapshots_.find(snapshot);
    if (found == snapshots_.end()) return false;
    found->second = 0;
    return NextRunning(processes_, found->second, entry);
}

bool FakePlatform::ProcessNext(SnapshotRef snapshot, ProcessEntry& entry)
{
    auto found = snapshots_.find(snapshot);
    if (found == snapshots_.end()) return false;
    return NextRunning(processes_, found->second, entry);
}

void FakePlatform::SnapshotClose(SnapshotRef snapshot)
{
    snapshots_.erase(snapshot);
}

bool FakePlatform::ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned)
{
    if (!psapiAvailable) return false;
    std::uint32_t count = 0;
    for (const auto& process : processes_) {
        if (!process.running) continue;
        if ((count + 1) * 4 > capacityBytes) break;
        ids[count++] = process.processId;
    }
    bytesReturned = count * 4;
    return true;
}

std::uint32_t FakePlatform::ProcessImagePath(ProcessRef process, char* out, std::uint32_t size)
{
    auto found = openProcesses_.find(process);
    if (found == openProcesses_.end() || size == 0) return 0;
    if ((found->second.access & kProcessQueryRead) != kProcessQueryRead) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return 0;
    }
    const FakeProcess* target = FindProcess(found->second.processId);
    if (!target) return 0;
    if (wow64 && target->is64Bit) {
        lastError = 299;  // ERROR_PARTIAL_COPY: its loader data lies beyond 32-bit reach
        return 0;
    }
    std::size_t length = std::min<std::size_t>(target->imagePath.size(), size - 1);
    std::memcpy(out, target->imagePath.data(), length);
    out[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

std::uint32_t FakePlatform::ProcessImageName(ProcessRef process, char* out, std::uint32_t size)
{
    const std::uint32_t kQueryInformation = 0x0400;
    const std::uint32_t kQueryLimitedInformation = 0x1000;
    if (size > 0) out[0] = '\0';
    if (!fullImageNameAvailable) return 0;
    auto found = openProcesses_.find(process);
    if (found == openProcesses_.end() || size == 0) return 0;
    if (!(found->second.access & (kQueryInformation | kQueryLimitedInformation))) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return 0;
    }
    const FakeProcess* target = FindProcess(found->second.processId);
    if (!target) return 0;
    if (target->imagePath.size() + 1 > size) {
        lastError = 122;  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    std::memcpy(out, target->imagePath.c_str(), target->imagePath.size() + 1);
    return static_cast<std::uint32_t>(target->imagePath.size());
}

ProcessRef FakePlatform::OpenProcessById(std::uint32_t access, std::uint32_t processId)
{
    processOpens.push_back(ProcessOpen{access, processId});
    const FakeProcess* target = FindProcess(processId);
    if (!target || !target->running) {
        lastError = 87;  // ERROR_INVALID_PARAMETER
        return 0;
    }
    if (!target->canOpen || (target->needsDebugPrivilege && !debugPrivilegeEnabled)) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return 0;
    }
    lastError = 0;
    ProcessRef handle = nextProcessRef_++;
    openProcesses_[handle] = OpenProcessHandle{processId, access};
    return handle;
}

bool FakePlatform::TerminateProcessRef(ProcessRef process, std::uint32_t)
{
    auto found = openProcesses_.find(process);
    if (found == openProcesses_.end()) return false;
    if (!(found->second.access & kProcessTerminate)) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return false;
    }
    for (auto& target : processes_) {
        if (target.processId != found->second.processId) continue;
        if (!target.canTerminate || !target.running) return false;
        target.running = false;
        terminatedProcesses.push_back(target.processId);
        return true;
    }
    return false;
}

void FakePlatform::CloseProcess(ProcessRef process)
{
    openProcesses_.erase(process);
}

std::uint32_t FakePlatform::LastErrorCode()
{
    return lastError;
}

int FakePlatform::WideToAnsi(const std::uint16_t* text, int length, char* out, int size)
{
    // ASCII passes through; anything else becomes '?', as the default
    // character of the ANSI code page.
    std::string converted;
    if (length < 0) {
        for (const std::uint16_t* p = text;; ++p) {
            converted += *p < 0x80 ? static_cast<char>(*p) : '?';
            if (*p == 0) break;
        }
    } else {
        for (int i = 0; i < length; ++i) converted += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    if (converted.size() > static_cast<std::size_t>(size)) return 0;
    std::memcpy(out, converted.data(), converted.size());
    return static_cast<int>(converted.size());
}

// ---------------------------------------------------------------- services

int FakePlatform::OpenServiceCount() const
{
    return static_cast<int>(openServices_.size());
}

ServiceRef FakePlatform::OpenServiceManager(std::uint32_t access)
{
    serviceAccess.push_back(access);
    if (serviceManagerFails) return 0;
    ServiceRef handle = nextService_++;
    openServices_[handle] = std::string();
    return handle;
}

ServiceRef FakePlatform::OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access)
{
    serviceAccess.push_back(access);
    if (!openServices_.count(manager) || !services.count(Upper(name))) return 0;
    ServiceRef handle = nextService_++;
    openServices_[handle] = Upper(name);
    return handle;
}

bool FakePlatform::RequestServiceStop(ServiceRef service)
{
    auto found = openServices_.find(service);
    if (found == openServices_.end() || found->second.empty()) return false;
    stopRequests.push_back(found->second);
    return services[found->second].acceptsStop;
}

bool FakePlatform::QueryServiceState(ServiceRef service, std::uint32_t& state)
{
    auto found = openServices_.find(service);
    if (found == openServices_.end() || found->second.empty()) return false;
    FakeService& target = services[found->second];
    if (target.states.empty() || target.queries >= target.answered) return false;
    state = target.states[std::min(target.queries, target.states.size() - 1)];
    ++target.queries;
    return true;
}

void FakePlatform::CloseServiceRef(ServiceRef handle)
{
    openServices_.erase(handle);
}

// ---------------------------------------------------------------- system

PrivilegeResult FakePlatform::EnablePrivilege(const char* privilegeName)
{
    privilegeRequests.push_back(privilegeName);
    if (privilegeResult == PrivilegeEnabled && std::string(privilegeName) == "SeDebugPrivilege") {
        debugPrivilegeEnabled = true;
    }
    return privilegeResult;
}

bool FakePlatform::RequestReboot(std::uint32_t flags)
{
    rebootRequests.push_back(flags);
    return rebootResult;
}

void FakePlatform::EndProgram(int exitCode)
{
    endProgramCalls.push_back(exitCode);
}

void FakePlatform::QueueMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    PendingMessage pending;
    std::memset(&pending, 0, sizeof pending);
    pending.message = message;
    pending.wParam = wParam;
    pending.lParam = lParam;
    messageQueue.push_back(pending);
}

bool FakePlatform::TakePendingMessage(PendingMessage& message)
{
    if (messageQueue.empty()) return false;
    message = messageQueue.front();
    messageQueue.pop_front();
    return true;
}

void FakePlatform::DispatchPending(const PendingMessage& message)
{
    dispatched.push_back(message);
    if (onDispatch) onDispatch(message);
}

void FakePlatform::NotifyWindow(WindowRef window, std::uint32_t message)
{
    notifications.push_back(Notification{window, message});
    if (onNotify) onNotify(window, message);
}

int FakePlatform::Prompt(const char* text, const char* caption, std::uint32_t flags)
{
    PromptCall call{text ? text : "", caption ? caption : "", flags};
    prompts.push_back(call);
    if (onPrompt) onPrompt(call);
    if (promptAnswers.empty()) return defaultPromptAnswer;
    int answer = promptAnswers.front();
    promptAnswers.pop_front();
    return answer;
}

void FakePlatform::PlainMessage(const char* text, const char* caption)
{
    plainMessages.push_back(PromptCall{text ? text : "", caption ? caption : "", 0});
}

void FakePlatform::Wait(std::uint32_t milliseconds)
{
    waits.push_back(milliseconds);
}
