// The ids of the entries a quarantine folder holds (its manifests' names),
// in order.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

inline std::vector<std::string> StoreIds(const std::string& store)
{
    std::vector<std::string> ids;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(store, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 12 && name.compare(8, 4, ".QMF") == 0) ids.push_back(name.substr(0, 8));
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}
