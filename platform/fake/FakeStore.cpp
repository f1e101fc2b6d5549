// Folders flushed and guarded, and paths locked by other runs, over
// the fake's tree; with fleeting folders, whose changes of names a power cut
// undoes unless the folder was flushed.
#include <algorithm>

#include "platform/fake/FakeInternal.h"
#include "platform/fake/FakePlatform.h"

using fakedetail::Upper;

bool FakePlatform::IsGuarded(const std::string& path) const
{
    Node* node = Resolve(path, false);
    return node && node->IsFolder() && node->guarded;
}

void FakePlatform::HoldElsewhere(const std::string& path, bool held)
{
    const std::string key = Upper(path);
    heldElsewhere_.erase(std::remove(heldElsewhere_.begin(), heldElsewhere_.end(), key), heldElsewhere_.end());
    if (held) heldElsewhere_.push_back(key);
}

bool FakePlatform::HeldHere(const std::string& path) const
{
    const std::string name = Upper(ProgramView(path.c_str()));
    for (const auto& held : pathLocks_) {
        if (held.second == name) return true;
    }
    return false;
}

void FakePlatform::MakeNamesFleeting(const std::string& folder)
{
    Node* node = Resolve(folder);
    if (node && node->IsFolder()) KeepNames(node);
}

void FakePlatform::KeepNames(Node* folder)
{
    std::vector<KeptName>& kept = fleetingFolders_[folder];
    kept.clear();
    for (const auto& child : folder->children) {
        if (!child->IsFolder()) kept.push_back(KeptName{child->serial, child->name, child->attributes, child->durable});
    }
}

void FakePlatform::RestoreNames(Node* folder, const std::vector<KeptName>& kept)
{
    auto& children = folder->children;
    std::vector<std::unique_ptr<Node>> restored;
    for (const KeptName& name : kept) {
        auto same = std::find_if(children.begin(), children.end(),
                                 [&name](const std::unique_ptr<Node>& child) { return child->serial == name.serial; });
        if (same != children.end()) {
            (*same)->name = name.name;
            restored.push_back(std::move(*same));
            children.erase(same);
            continue;
        }
        // Removed, or renamed out of the folder: back as it was flushed.
        std::unique_ptr<Node> file(new Node);
        file->serial = name.serial;
        file->name = name.name;
        file->attributes = name.attributes;
        file->content = name.durable;
        file->durable = name.durable;
        file->parent = folder;
        restored.push_back(std::move(file));
    }
    // Files made since the flush are gone; folders stay.
    for (auto& child : children) {
        if (child->IsFolder()) restored.push_back(std::move(child));
    }
    children = std::move(restored);
}

bool FakePlatform::FlushFolder(const char* path)
{
    const std::string text = ProgramView(path);
    Node* node = text.size() == 2 ? Root(text[0]) : Resolve(text);
    if (!node || !node->IsFolder() || flushFails || !TakeStep()) return false;
    if (fleetingFolders_.count(node)) KeepNames(node);
    return true;
}

bool FakePlatform::MakeGuardedFolder(const char* path)
{
    const std::string text = ProgramView(path);
    if (guardFails) return false;
    Node* node = Resolve(text, false);
    if (node) {
        if (!node->IsFolder() || !node->linkTarget.empty() || !TakeStep()) return false;
        node->guarded = true;
        return true;
    }
    std::string name;
    if (!FolderFor(text, name) || !TakeStep()) return false;
    AddFolder(text);
    Resolve(text, false)->guarded = true;
    return true;
}

