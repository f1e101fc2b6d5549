// Everything a folder tree holds, to compare before and after a run: each
// entry's name, type and mode, a file's bytes, a link's target, a device's
// numbers. Links are recorded, never followed; FIFOs and devices are never
// opened.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "console/TempFolder.h"

namespace treesnapshot {

inline std::string Describe(const std::string& path, const struct stat& st)
{
    char mode[32];
    std::snprintf(mode, sizeof mode, "%06o", static_cast<unsigned>(st.st_mode));
    std::string text = mode;
    if (S_ISREG(st.st_mode)) return text + " file " + ReadFileText(path);
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        return text + " link " + (length >= 0 ? std::string(target, static_cast<std::size_t>(length)) : "?");
    }
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        return text + " device " + std::to_string(major(st.st_rdev)) + "," + std::to_string(minor(st.st_rdev));
    }
    return text;
}

inline void Walk(const std::string& root, const std::string& relative, std::map<std::string, std::string>& tree)
{
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        tree[relative + "/"] = "unreadable";
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string below = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (lstat((root + "/" + below).c_str(), &st) != 0) {
            tree[below] = "vanished";
            continue;
        }
        tree[below] = Describe(root + "/" + below, st);
        if (S_ISDIR(st.st_mode)) Walk(root, below, tree);
    }
    closedir(dir);
}

}  // namespace treesnapshot

// Entries below `root` by their path relative to it.
inline std::map<std::string, std::string> TreeSnapshot(const std::string& root)
{
    std::map<std::string, std::string> tree;
    treesnapshot::Walk(root, std::string(), tree);
    return tree;
}
