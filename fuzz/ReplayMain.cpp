// Replays saved inputs through a fuzz target's entry point, without
// libFuzzer, so the ordinary test run (any compiler, with the sanitizers of
// the native build) checks every seed and every input that once failed.
//
// Usage: <target>_replay PATH...  where each PATH is a file or a folder of
// files (not searched below its first level). A crash or sanitizer report
// ends the program as it would end the fuzzer; an input that cannot be read
// is an error. Replaying nothing at all is an error too, so a test whose
// folders went missing cannot pass.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool IsFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The inputs a path stands for: itself, or the files of the folder (names
// starting with '.' and README files left out).
void CollectInputs(const std::string& path, std::vector<std::string>& inputs)
{
    if (!IsFolder(path)) {
        inputs.push_back(path);
        return;
    }
    DIR* folder = opendir(path.c_str());
    if (!folder) {
        inputs.push_back(path);  // reported as unreadable below
        return;
    }
    while (dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.' || name.rfind("README", 0) == 0) continue;
        std::string full = path + "/" + name;
        if (!IsFolder(full)) inputs.push_back(full);
    }
    closedir(folder);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) CollectInputs(argv[i], inputs);
    std::vector<std::uint8_t> bytes;
    for (const std::string& input : inputs) {
        if (!ReadFile(input, bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
            return 2;
        }
        LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no input to replay\n");
        return 2;
    }
    std::printf("replay: %zu inputs, no failure\n", inputs.size());
    return 0;
}
