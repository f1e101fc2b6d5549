#include "platform/hive/HivePlatform.h"

#include "platform/hive/HiveFile.h"

HivePlatform::HivePlatform(Platform& inner)
    : inner_(inner), selectedUser_(0), nextKey_(1), allowChanges_(false), damaged_(false), fault_(ChangeFault::None)
{
}

HivePlatform::~HivePlatform() = default;

void HivePlatform::MountMachine(const std::string&, const std::string&, std::vector<std::string>&) {}
std::vector<HivePlatform::Profile> HivePlatform::Profiles() { return {}; }
void HivePlatform::AddUser(const std::string&, const std::string&, std::vector<std::string>&) {}
void HivePlatform::AllowChanges(bool allow) { allowChanges_ = allow; }
void HivePlatform::SetBeforeFirstChange(std::function<void(const std::string&)> hook) { beforeFirstChange_ = hook; }
bool HivePlatform::Is64BitWindows() { return false; }
std::vector<std::string> HivePlatform::TakeProblems()
{
    std::vector<std::string> taken;
    taken.swap(problems_);
    return taken;
}
bool HivePlatform::HadDamagedHive() { return damaged_; }
void HivePlatform::SetChangeFaultForTesting(ChangeFault fault) { fault_ = fault; }
bool HivePlatform::QueryVersion(VersionInfo& info) { return inner_.QueryVersion(info); }
std::uint32_t HivePlatform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    return inner_.ExpandEnvironment(text, out, size);
}
bool HivePlatform::RunsUnderWow64() { return false; }
long HivePlatform::RegistryOpen(KeyRef, const char*, std::uint32_t, KeyRef& key)
{
    key = 0;
    return kRegistryNotFound;
}
long HivePlatform::RegistryQueryValue(KeyRef, const char*, std::uint32_t*, void*, std::uint32_t*) { return 6; }
long HivePlatform::RegistryValueCount(KeyRef, std::uint32_t&) { return 6; }
long HivePlatform::RegistryEnumValue(KeyRef, std::uint32_t, char*, std::uint32_t&) { return 6; }
long HivePlatform::RegistryDeleteValue(KeyRef, const char*) { return 6; }
long HivePlatform::RegistryDeleteKey(KeyRef, const char*) { return kRegistryNotFound; }
void HivePlatform::RegistryClose(KeyRef) {}
std::uint32_t HivePlatform::RegistryUserCount() { return 0; }
bool HivePlatform::SelectRegistryUser(std::uint32_t) { return false; }
bool HivePlatform::RegistryHasTwoViews() { return false; }
