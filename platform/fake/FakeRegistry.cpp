// The registry: two hives of keys and values, the performance data by value
// name, and the platform's result codes.
#include "platform/fake/FakePlatform.h"

#include <cstring>

#include "platform/fake/FakeInternal.h"

using fakedetail::SameName;
using fakedetail::SplitComponents;

FakePlatform::Key* FakePlatform::FindKey(KeyRef hive, const std::string& path, bool create) const
{
    Key* key = nullptr;
    if (hive == kKeyCurrentUser) key = users_[selectedUser_].get();
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

std::uint32_t FakePlatform::AddRegistryUser()
{
    users_.emplace_back(new Key);
    return static_cast<std::uint32_t>(users_.size() - 1);
}

std::uint32_t FakePlatform::RegistryUserCount()
{
    return static_cast<std::uint32_t>(users_.size());
}

bool FakePlatform::SelectRegistryUser(std::uint32_t index)
{
    if (index >= users_.size()) return false;
    selectedUser_ = index;
    return true;
}

bool FakePlatform::RegistryHasTwoViews()
{
    return wow64 || twoRegistryViews;
}

FakePlatform::Key* FakePlatform::KeyOf(KeyRef key) const
{
    if (key == kKeyCurrentUser) return users_[selectedUser_].get();
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
