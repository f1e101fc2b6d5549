// Construction of the fake and the views through which the program's calls
// reach its names: under WoW64, the file system redirector and the
// registry's Wow6432Node.
#include "platform/fake/FakePlatform.h"

#include "platform/fake/FakeInternal.h"

using fakedetail::SameName;
using fakedetail::SplitComponents;

namespace {

// True when `path` is `folder` or lies inside it (without regard to case);
// `rest` is then what follows the folder, from its backslash on.
bool UnderFolder(const std::string& path, const std::string& folder, std::string& rest)
{
    if (path.size() < folder.size() || !SameName(path.substr(0, folder.size()), folder)) return false;
    if (path.size() > folder.size() && path[folder.size()] != '\\') return false;
    rest = path.substr(folder.size());
    return true;
}

// Subfolders of System32 that WoW64 leaves unredirected (Windows 7 and later).
const char* const kRedirectionExempt[] = {"\\catroot", "\\catroot2", "\\driverstore", "\\drivers\\etc",
                                          "\\logfiles", "\\spool"};

}  // namespace

FakePlatform::FakePlatform()
    : toolHelpAvailable(true),
      psapiAvailable(true),
      fullImageNameAvailable(true),
      debugPrivilegeEnabled(false),
      serviceManagerFails(false),
      versionQueryFails(false),
      wow64(false),
      nativeAliasAvailable(true),
      windowsFolder("C:\\WINDOWS"),
      tempFolder("C:\\WINDOWS\\TEMP\\"),
      shortPathFails(false),
      rebootRemovalResult(true),
      writeBudget(-1),
      lastError(0),
      privilegeResult(PrivilegeEnabled),
      rebootResult(true),
      defaultPromptAnswer(kAnswerNo),
      tick(0),
      tickStep(1),
      queueLooks(0),
      nextFile_(3),
      nextSearch_(1),
      localMachine_(new Key),
      nextKey_(1),
      performanceDataOpen_(false),
      nextProcessId_(100),
      nextSnapshot_(1),
      nextProcessRef_(1),
      nextService_(1)
{
    version.platformId = 2;
    version.majorVersion = 5;
    version.minorVersion = 1;
    version.buildNumber = 2600;
    users_.emplace_back(new Key);
}

FakePlatform::~FakePlatform() = default;

std::string FakePlatform::ProgramView(const char* path) const
{
    std::string text = path ? path : "";
    if (!wow64) return text;
    std::string rest;
    if (UnderFolder(text, windowsFolder + "\\Sysnative", rest)) {
        return nativeAliasAvailable ? windowsFolder + "\\System32" + rest : text;
    }
    if (!UnderFolder(text, windowsFolder + "\\System32", rest)) return text;
    std::string inner;
    for (const char* exempt : kRedirectionExempt) {
        if (UnderFolder(rest, exempt, inner)) return text;
    }
    return windowsFolder + "\\SysWOW64" + rest;
}

std::string FakePlatform::RegistryView(KeyRef hive, const char* subkey, std::uint32_t access) const
{
    std::string text = subkey ? subkey : "";
    if (!(wow64 || twoRegistryViews) || hive != kKeyLocalMachine || (access & kKeyView64)) return text;
    std::vector<std::string> parts = SplitComponents(text);
    if (parts.empty() || !SameName(parts[0], "Software")) return text;
    if (parts.size() > 1 && SameName(parts[1], "Wow6432Node")) return text;
    std::string redirected = parts[0] + "\\Wow6432Node";
    for (std::size_t i = 1; i < parts.size(); ++i) redirected += "\\" + parts[i];
    return redirected;
}
