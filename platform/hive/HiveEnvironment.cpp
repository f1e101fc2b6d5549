#include "platform/hive/HiveEnvironment.h"

#include <cstring>
#include <vector>

#include "platform/hive/HiveText.h"

namespace {

std::string UpperName(const std::string& name)
{
    std::string upper = name;
    for (char& c : upper) c = hivetext::Upper(c);
    return upper;
}

// Where each of the folders that come from SOFTWARE is read.
struct FolderSource {
    const char* variable;
    const char* key;
    const char* value;
};
const FolderSource kFolderSources[] = {
    {"SYSTEMROOT", "Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"},
    {"WINDIR", "Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"},
    {"PROGRAMFILES", "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"},
};

}  // namespace

HiveEnvironment ReadHiveEnvironment(const HiveFile& software, const HiveFile& system, const std::string& controlSet)
{
    HiveEnvironment folders;
    for (const FolderSource& source : kFolderSources) {
        const hive_node_h key = FindHiveKey(software, hivetext::SplitPath(source.key));
        const std::string value = ReadHiveText(software, key, source.value);
        if (!value.empty()) folders[source.variable] = value;
    }
    const auto root = folders.find("SYSTEMROOT");
    if (root != folders.end() && root->second.size() >= 2 && root->second[1] == ':') {
        folders["SYSTEMDRIVE"] = root->second.substr(0, 2);
    }

    HiveEnvironment environment = folders;
    if (!controlSet.empty()) {
        std::vector<std::string> path = hivetext::SplitPath("Control\\Session Manager\\Environment");
        path.insert(path.begin(), controlSet);
        const hive_node_h key = FindHiveKey(system, path);
        HiveValueList values;
        HiveEnvironment raw;
        if (key && ListHiveValues(system, key, values)) {
            for (std::size_t i = 0; i < values.handles.size(); ++i) {
                std::uint32_t type = 0;
                std::string data;
                if (!ReadHiveValue(system, values.handles[i], type, data) || (type != 1 && type != 2)) continue;
                const std::string upper = UpperName(values.names[i]);
                if (!raw.count(upper)) raw[upper] = data.substr(0, data.find('\0'));
            }
        }
        // Twice: first with the folders, then with the variables too, so one
        // variable may name another.
        for (const auto& variable : raw) {
            if (!folders.count(variable.first)) environment[variable.first] = ExpandHiveText(folders, variable.second);
        }
        HiveEnvironment once = environment;
        for (const auto& variable : raw) {
            if (folders.count(variable.first)) continue;
            HiveEnvironment others = once;
            others.erase(variable.first);
            environment[variable.first] = ExpandHiveText(others, once[variable.first]);
        }
    }
    return environment;
}

std::string ExpandHiveText(const HiveEnvironment& environment, const std::string& text)
{
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t close = text[at] == '%' ? text.find('%', at + 1) : std::string::npos;
        if (close == std::string::npos) {
            result += text[at++];
            continue;
        }
        const auto found = environment.find(UpperName(text.substr(at + 1, close - at - 1)));
        // An unknown reference is kept whole, both signs included.
        result += found != environment.end() ? found->second : text.substr(at, close + 1 - at);
        at = close + 1;
    }
    return result;
}

std::uint32_t ExpandHiveEnvironment(const HiveEnvironment& environment, const char* text, char* out,
                                    std::uint32_t size)
{
    const std::string result = ExpandHiveText(environment, text ? text : "");
    const std::uint32_t needed = static_cast<std::uint32_t>(result.size() + 1);
    if (out && needed <= size) std::memcpy(out, result.c_str(), needed);
    return needed;
}
