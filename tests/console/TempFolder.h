// A scratch folder under /tmp for one test, removed with everything in it
// afterwards (links are removed, never followed).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempFolder {
public:
    TempFolder()
    {
        char name[] = "/tmp/quellor-test-XXXXXX";
        const char* made = mkdtemp(name);
        path_ = made ? made : "";
        // Readable by the unprivileged account some tests run the scanner as.
        if (made) chmod(made, 0755);
    }
    ~TempFolder()
    {
        if (path_.empty()) return;
        std::error_code ignored;
        // Folders a test made unreadable are opened again first.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) chmod(it->path().c_str(), 0755);
        }
        chmod(path_.c_str(), 0755);
        RestoreAll(path_);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Creates the folders above `relative` and the file with `content`.
    std::string Write(const std::string& relative, const std::string& content) const
    {
        const std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string Folder(const std::string& relative) const
    {
        const std::string full = *this / relative;
        std::filesystem::create_directories(full);
        return full;
    }

private:
    // Walks with opened modes until nothing unreadable is left below.
    static void RestoreAll(const std::string& folder)
    {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
            if (entry.is_symlink(ignored) || !entry.is_directory(ignored)) continue;
            chmod(entry.path().c_str(), 0755);
            RestoreAll(entry.path().string());
        }
    }

    std::string path_;
};

inline bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
