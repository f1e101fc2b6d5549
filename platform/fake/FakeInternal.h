// What the fake backend's source files share: the shapes of its file-system
// nodes and registry keys, and the helpers for names. Included only by
// platform/fake/*.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/AnsiText.h"
#include "platform/fake/FakePlatform.h"

struct FakePlatform::Node {
    std::string name;
    std::uint32_t attributes = 0;
    std::string content;
    // What a power cut leaves of the content (see SimulateCrash).
    std::string durable;
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

namespace fakedetail {

inline std::string Upper(std::string text)
{
    for (char& c : text) c = UpperAscii(c);
    return text;
}

inline bool SameName(const std::string& a, const std::string& b)
{
    return Upper(a) == Upper(b);
}

inline std::vector<std::string> SplitComponents(const std::string& text)
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

}  // namespace fakedetail
