// Version, drives, folders and their enumeration, files, and the system's
// folder and environment queries, over an in-memory tree of nodes.
#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cstring>

#include "platform/ListingRules.h"
#include "platform/fake/FakeInternal.h"

using fakedetail::SameName;
using fakedetail::SplitComponents;
using fakedetail::Upper;

namespace {

std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t size)
{
    // The platform's convention for folder and path queries: the length on
    // success, the size needed (terminator included) when the buffer is small.
    if (text.size() + 1 > size) return static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
}

bool RunningHolder(const std::vector<FakePlatform::FakeProcess>& processes, std::uint32_t processId)
{
    for (const auto& process : processes) {
        if (process.processId == processId && process.running) return true;
    }
    return false;
}

}  // namespace

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
        // cannot hang a lookup. A symbolic link is never followed, as the
        // POSIX backend never follows one: a path through it names nothing.
        for (int hops = 0; !next->linkTarget.empty() && (!last || followFinalLink); ++hops) {
            if (hops == 16 || next->reparseTag == kReparseTagSymlink) return nullptr;
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
            child->durable = content;
            child->attributes = attributes & ~kAttrDirectory;
            return;
        }
    }
    std::unique_ptr<Node> file(new Node);
    file->name = name;
    file->attributes = attributes & ~kAttrDirectory;
    file->content = content;
    file->durable = content;
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

// A link's own name exists, whatever its target.
bool FakePlatform::PathExists(const char* path)
{
    return Resolve(ProgramView(path), false) != nullptr;
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
    if (!Resolve(text, false)) {
        if (!TakeStep()) return kNoFile;
        std::size_t slash = text.rfind('\\');
        if (slash == std::string::npos) return kNoFile;
        Node* folder = Resolve(text.substr(0, slash));
        if (!folder || !folder->IsFolder()) return kNoFile;
        AddFile(text, std::string(), kAttrArchive);
        Resolve(text)->durable.clear();
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
    if (!TakeStep()) return -1;
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
    if (!node || node->attributesLocked || !TakeStep()) return false;
    std::uint32_t kept = node->attributes & (kAttrDirectory | kAttrReparsePoint);
    node->attributes = kept | (attributes & ~(kAttrDirectory | kAttrReparsePoint));
    return true;
}

bool FakePlatform::RemoveFile(const char* path)
{
    Node* node = Resolve(ProgramView(path), false);
    if (!node || node->IsFolder() || !node->parent) return false;
    if (node->deleteLocked || (node->attributes & kAttrReadOnly)) return false;
    if (node->heldByProcess && RunningHolder(processes_, node->heldByProcess)) return false;
    for (const auto& open : openFiles_) {
        if (open.second.node == node) return false;  // opened without delete sharing
    }
    if (!TakeStep()) return false;
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
    if (!folder || !folder->IsFolder() || !TakeStep()) return false;
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

bool FakePlatform::RenameOver(const char* from, const char* to)
{
    const std::string source = ProgramView(from);
    const std::string target = ProgramView(to);
    Node* node = Resolve(source, false);
    if (!InOneFolder(source.c_str(), target.c_str()) || !node || node->IsFolder() || node->deleteLocked) return false;
    Node* existing = Resolve(target, false);
    if (existing == node) return true;
    // The runtime opens files without delete sharing, and the system
    // replaces no read-only file.
    auto busy = [this](const Node* file) {
        if (file->heldByProcess && RunningHolder(processes_, file->heldByProcess)) return true;
        for (const auto& open : openFiles_) {
            if (open.second.node == file) return true;
        }
        return false;
    };
    if (busy(node)) return false;
    if (existing && (existing->IsFolder() || existing->deleteLocked || (existing->attributes & kAttrReadOnly) ||
                     busy(existing)))
        return false;
    if (!TakeStep()) return false;
    auto& siblings = node->parent->children;
    if (existing) {
        siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                                    [existing](const std::unique_ptr<Node>& child) { return child.get() == existing; }));
    }
    node->name = target.substr(target.rfind('\\') + 1);
    return true;
}

bool FakePlatform::CopyFileOver(const char* from, const char* to)
{
    Node* source = Resolve(ProgramView(from));
    if (!source || source->IsFolder()) return false;
    std::string target = ProgramView(to);
    // A link is a folder's entry: never replaced, never written through.
    Node* existing = Resolve(target, false);
    // The source is open for reading while the target is opened for writing;
    // on one file the two opens collide (a sharing violation).
    if (existing == source) return false;
    if (existing && (existing->IsFolder() || (existing->attributes & kAttrReadOnly))) return false;
    std::size_t slash = target.rfind('\\');
    if (slash == std::string::npos) return false;
    Node* folder = slash == 2 ? Root(target[0]) : Resolve(target.substr(0, slash));
    if (!folder || !folder->IsFolder() || !TakeStep()) return false;
    std::string content = source->content;
    AddFile(target, content, source->attributes);
    return true;
}

bool FakePlatform::RemoveAtReboot(const char* path)
{
    // The request is stored under the name the system itself reads at its
    // next start: the redirector maps the program's name as for any file
    // call (64-bit Windows since Server 2003 SP1 and XP x64).
    if (!TakeStep()) return false;
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

bool FakePlatform::TakeStep()
{
    if (stepBudget == 0) return false;
    if (stepBudget > 0) --stepBudget;
    return true;
}

// The folder that would hold `path` (a drive root counts), or null; the
// last component goes to `name`.
FakePlatform::Node* FakePlatform::FolderFor(const std::string& path, std::string& name) const
{
    std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos || slash + 1 >= path.size()) return nullptr;
    name = path.substr(slash + 1);
    if (name.find_first_of("?*") != std::string::npos) return nullptr;
    Node* folder = slash == 2 ? Root(path[0]) : Resolve(path.substr(0, slash));
    return folder && folder->IsFolder() ? folder : nullptr;
}

bool FakePlatform::CreateFolder(const char* path)
{
    std::string text = ProgramView(path);
    std::string name;
    if (!FolderFor(text, name) || Resolve(text, false) || !TakeStep()) return false;
    AddFolder(text);
    return true;
}

FileRef FakePlatform::CreateNewFile(const char* path)
{
    std::string text = ProgramView(path);
    std::string name;
    if (!FolderFor(text, name) || Resolve(text, false) || !TakeStep()) return kNoFile;
    AddFile(text, std::string(), kAttrArchive);
    Node* node = Resolve(text);
    node->durable.clear();
    return OpenHandle(node, true, false);
}

PathLockResult FakePlatform::TakePathLock(const char* path, LockRef& lock)
{
    lock = 0;
    if (locksUnavailable) return PathLockUnavailable;
    const std::string name = Upper(ProgramView(path));
    if (std::find(heldElsewhere_.begin(), heldElsewhere_.end(), name) != heldElsewhere_.end()) return PathLockHeld;
    for (const auto& held : pathLocks_) {
        if (held.second == name) return PathLockHeld;
    }
    lock = nextLock_++;
    pathLocks_[lock] = name;
    return PathLockTaken;
}

void FakePlatform::ReleasePathLock(LockRef lock)
{
    pathLocks_.erase(lock);
}

bool FakePlatform::FlushFile(FileRef file)
{
    auto found = openFiles_.find(file);
    if (found == openFiles_.end() || !found->second.forWrite || flushFails || !TakeStep()) return false;
    found->second.node->durable = found->second.node->content;
    return true;
}

std::uint32_t FakePlatform::CommonDataFolder(char* out, std::uint32_t size)
{
    if (commonDataFolder.empty()) {
        if (size > 0) out[0] = '\0';
        return 0;
    }
    return CopyOut(commonDataFolder, out, size);
}

std::int64_t FakePlatform::CurrentTime()
{
    return now;
}

void FakePlatform::SimulateCrash()
{
    for (const auto& fleeting : fleetingFolders_) RestoreNames(fleeting.first, fleeting.second);
    std::vector<Node*> pending;
    for (auto& root : roots_) pending.push_back(root.second.get());
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (!node->IsFolder()) node->content = node->durable;
        for (auto& child : node->children) pending.push_back(child.get());
    }
    openFiles_.clear();
    searches_.clear();
    pathLocks_.clear();
}
