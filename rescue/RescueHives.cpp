// The hive reader of the rescue screen: a Windows' version and users from
// its SOFTWARE hive, read through libhivex in a child process of its own
// (quellor-rescue --describe SOFTWARE), so that a damaged or hostile hive
// can only end that child.
#include <hivex.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "rescue/RescueSystem.h"
#include "rescue/RescueVolume.h"

namespace {

const char* const kCurrentVersion[] = {"Microsoft", "Windows NT", "CurrentVersion"};
// More profiles than any PC has people: the rest are not listed.
const std::size_t kMostUsers = 32;
// Longer texts are cut: a name on the screen, not a document.
const std::size_t kLongestText = 120;

std::string Text(hive_h* hive, hive_node_h node, const char* name)
{
    const hive_value_h value = hivex_node_get_value(hive, node, name);
    if (value == 0) return std::string();
    char* text = hivex_value_string(hive, value);
    if (!text) return std::string();
    std::string result(text);
    std::free(text);
    if (result.size() > kLongestText) result.resize(kLongestText);
    // One line each for the screen to read back.
    for (char& c : result) c = c == '\n' || c == '\r' ? '?' : c;
    return result;
}

std::string FirstText(hive_h* hive, hive_node_h node, const char* first, const char* second)
{
    const std::string text = Text(hive, node, first);
    return text.empty() ? Text(hive, node, second) : text;
}

}  // namespace

int DescribeHive(const std::string& softwareHive)
{
    hive_h* hive = hivex_open(softwareHive.c_str(), 0);
    if (!hive) return 1;
    hive_node_h node = hivex_root(hive);
    for (const char* name : kCurrentVersion) {
        if (node != 0) node = hivex_node_get_child(hive, node, name);
    }
    if (node == 0) {
        hivex_close(hive);
        return 1;
    }
    WindowsVersionValues values;
    values.productName = Text(hive, node, "ProductName");
    values.displayVersion = FirstText(hive, node, "DisplayVersion", "ReleaseId");
    values.servicePack = Text(hive, node, "CSDVersion");
    values.build = FirstText(hive, node, "CurrentBuild", "CurrentBuildNumber");
    values.version = Text(hive, node, "CurrentVersion");
    std::printf("version %s\n", WindowsVersionText(values).c_str());
    const hive_node_h profiles = hivex_node_get_child(hive, node, "ProfileList");
    hive_node_h* children = profiles != 0 ? hivex_node_children(hive, profiles) : nullptr;
    std::size_t users = 0;
    for (std::size_t i = 0; children && children[i] != 0 && users < kMostUsers; ++i) {
        char* sid = hivex_node_name(hive, children[i]);
        const std::string user = ProfileUser(sid ? sid : "", Text(hive, children[i], "ProfileImagePath"));
        std::free(sid);
        if (user.empty()) continue;
        std::printf("user %s\n", user.c_str());
        ++users;
    }
    std::free(children);
    hivex_close(hive);
    return 0;
}
