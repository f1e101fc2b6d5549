#include "cleanup/RegistryCleanup.h"

#include <cstdlib>
#include <cstring>

#include "scan/BoundedText.h"
#include "scan/ResultLines.h"
#include "scan/ScanState.h"
#include "scan/Wow64View.h"

const char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRu1nKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";
const char kRunValueLabel[] = "W32/MurkEl.Trojan";

namespace {

// Short names that keep the table below in the layout of its source list.
constexpr KeyRef HKCU = kKeyCurrentUser;
constexpr KeyRef HKLM = kKeyLocalMachine;
constexpr RegistryTest S = TestSystemAndName;
constexpr RegistryTest D = TestSysdirOrSystemAndName;

constexpr char kParamsKey[] = "Software\\Microsoft\\Params";

constexpr RegistryFollowUp kNone = {FollowUpNone, nullptr, nullptr, nullptr};

constexpr RegistryFollowUp Key(const char* key, const char* label)
{
    return RegistryFollowUp{FollowUpDeleteKey, key, nullptr, label};
}

constexpr RegistryFollowUp Value(const char* key, const char* value, const char* label)
{
    return RegistryFollowUp{FollowUpDeleteValue, key, value, label};
}

}  // namespace

const BagleRegistryRule BagleRegistryRules[kBagleRegistryRuleCount] = {
    {HKCU, kRunKeyPath, "d3dupdate.exe", S, "bbeagle.exe", "W32/Bagle.A.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "au.exe", S, "au.exe", "W32/Bagle.B.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "gouday.exe", S, "readme.exe", "W32/Bagle.C.Worm", false,
     {Key("Software\\DateTime2", "W32/Bagle.C.Worm"), Key("Software\\DateTime3", "W32/Bagle.D.Worm")}},
    {HKCU, kRunKeyPath, "rate.exe", S, "i1ru74n4.exe", "W32/Bagle.E.Worm", false,
     {Key("Software\\DateTime4", "W32/Bagle.E.Worm"), kNone}},
    {HKCU, kRunKeyPath, "rate.exe", S, "i1ru54n4.exe", "W32/Bagle.F.Worm", false,
     {Key("Software\\winword", "W32/Bagle.F.Worm"), kNone}},
    {HKCU, kRunKeyPath, "rate.exe", S, "i11r54n4.exe", "W32/Bagle.G.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "ssate.exe", S, "irun4.exe", "W32/Bagle.J.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "ssate.exe", S, "winsys.exe", "W32/Bagle.K.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "winupd.exe", S, "winupd.exe", "W32/Bagle.N.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "directs.exe", S, "directs.exe", "W32/Bagle.Q.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "gigabit.exe", S, "gigabit.exe", "W32/Bagle.U.Worm", false,
     {Key("Software\\Windows2004", "W32/Bagle.U.Worm"), kNone}},
    {HKCU, kRunKeyPath, "sysinfo.exe", S, "sysinfo.exe", "W32/Bagle.V.Worm", false,
     {Key("Software\\Windows2005", "W32/Bagle.V.Worm"), kNone}},
    {HKCU, kRunKeyPath, "drvsys.exe", S, "drvsys.exe", "W32/Bagle.Z.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "drvddll.exe", S, "drvddll.exe", "W32/Bagle.Aa.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "reg_key", S, "loader_name.exe", "W32/Bagle.Ae.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "reg_key", S, "loader_name.exe", "W32/Bagle.Ac.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "key", S, "sysxp.exe", "W32/Bagle.Af.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "key", S, "sys_xp.exe", "W32/Bagle.Ag.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "key", S, "winxp.exe", "W32/Bagle.Ah.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "win_upd2.exe", S, "windirect.exe", "W32/Bagle.Aq.Worm", false, {kNone, kNone}},
    {HKLM, kRunKeyPath, "win_upd2.exe", S, "windirect.exe", "W32/Bagle.Aq.Worm", false, {kNone, kNone}},
    {HKLM, kRunKeyPath, "wersds.exe", D, "doriot.exe", "W32/Bagle.Dl.A.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "wersds.exe", D, "doriot.exe", "W32/Bagle.Dl.A.Worm", false, {kNone, kNone}},
    {HKLM, kRu1nKeyPath, "erthgdr", D, "windll.exe", "W32/Bagle.Al.Worm", false, {kNone, kNone}},
    {HKCU, kRu1nKeyPath, "erthgdr", D, "windll.exe", "W32/Bagle.Al.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "bawindo", D, "bawindo.exe", "W32/Bagle.Az.Worm", true,
     {Value(kParamsKey, "TimeKey", "W32/Bagle.Av.Worm"), kNone}},
    {HKCU, kRunKeyPath, "wingo", D, "wingo.exe", "W32/Bagle.At.Worm", false,
     {Value(kParamsKey, "TimeKey", "W32/Bagle.At.Worm"), kNone}},
    {HKCU, kRunKeyPath, "bawindo", D, "bawindo.exe", "W32/Bagle.Av.Worm", false,
     {Value(kParamsKey, "TimeKey", "W32/Bagle.Av.Worm"), kNone}},
    {HKCU, kRunKeyPath, "sysformat", D, "sysformat.exe", "W32/Bagle.Ax.Worm", false,
     {Value(kParamsKey, "TimeKey", "W32/Bagle.Ax.Worm"), Value(kParamsKey, "riga", "W32/Bagle.Ay.Worm")}},
    {HKCU, kRunKeyPath, "Syskey", D, "sysinit.exe", "W32/Bagle.Aw.Worm", false, {kNone, kNone}},
    {HKCU, kRunKeyPath, "winshost.exe", D, "winshost.exe", "W32/Bagle.Be.Worm", false, {kNone, kNone}},
    {HKLM, kRunKeyPath, "winshost.exe", D, "winshost.exe", "W32/Bagle.Be.Worm", false, {kNone, kNone}},
};

namespace {

// One result line per successful deletion, and only while someone listens.
void ReportRemoval(const char* label)
{
    if (ScanState.resultSink) ReportResult(LineSystemRegistry, nullptr, label);
}

void RunFollowUp(const RegistryFollowUp& followUp)
{
    switch (followUp.kind) {
    case FollowUpDeleteKey:
        if (DeleteRegistryKey(kKeyCurrentUser, followUp.key)) ReportRemoval(followUp.label);
        break;
    case FollowUpDeleteValue: {
        char data[kRuleDataLimit + 1];
        if (!ReadRegistryValue(kKeyCurrentUser, followUp.key, followUp.value, data, sizeof data)) break;
        if (DeleteRegistryValue(kKeyCurrentUser, followUp.key, followUp.value)) ReportRemoval(followUp.label);
        break;
    }
    case FollowUpNone:
        break;
    }
}

// The expansion of the command being compared; one thread uses it.
char expandedCommand[kExpandedCommandSize];

bool IsEndOfPath(char c)
{
    return c == '\0' || c == '"' || c == ' ' || c == '\t';
}

// The command of a Run value: its data without a leading double quote.
const char* CommandOf(const char* data)
{
    return data[0] == '"' ? data + 1 : data;
}

// Reads the whole data of value `name` of the open key, whatever its type,
// into a new block with a terminator after the data; the caller frees it.
// Null when it cannot be read whole. The platform hands out no part of a
// value that does not fit the buffer, so a long command is read whole or
// not at all: a bounded buffer would let any start-up entry padded past it
// keep an infected file starting.
char* ReadWholeValue(KeyRef key, const char* name)
{
    std::uint32_t length = 0;
    if (Sys().RegistryQueryValue(key, name, nullptr, nullptr, &length) != kRegistryOk) return nullptr;
    if (length > kRunValueLimit) return nullptr;
    char* data = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (!data) return nullptr;
    std::uint32_t got = length;
    if (Sys().RegistryQueryValue(key, name, nullptr, data, &got) != kRegistryOk || got > length) {
        std::free(data);
        return nullptr;
    }
    data[got] = '\0';
    return data;
}

// The start of a command with its environment references expanded, in
// expandedCommand (empty when the expansion fails or does not fit). Only
// the head is expanded: the path it is compared with is far shorter, and
// the expansion of the whole command could exceed the platform's limit.
void ExpandCommandHead(const char* command)
{
    char head[kExpandedHeadSize];
    CopyText(head, sizeof head, command);  // cut to the head on purpose
    std::uint32_t needed = Sys().ExpandEnvironment(head, expandedCommand, sizeof expandedCommand);
    if (needed == 0 || needed > sizeof expandedCommand) expandedCommand[0] = '\0';
    expandedCommand[sizeof expandedCommand - 1] = '\0';
    ToLowerAscii(expandedCommand);
}

}  // namespace

bool ReadRegistryValue(KeyRef hive, const char* key, const char* name, char* buffer, std::size_t size,
                       std::uint32_t view)
{
    if (size == 0) return false;
    buffer[0] = '\0';
    KeyRef opened = 0;
    if (Sys().RegistryOpen(hive, key, kKeyRead | view, opened) != kRegistryOk) return false;
    std::uint32_t length = 0;
    bool read = Sys().RegistryQueryValue(opened, name, nullptr, nullptr, &length) == kRegistryOk &&
                length < size &&
                Sys().RegistryQueryValue(opened, name, nullptr, buffer, &length) == kRegistryOk && length < size;
    Sys().RegistryClose(opened);
    // Whatever the type, the data is used as text up to its first zero; the
    // terminator after it keeps data without one of its own in bounds.
    buffer[read ? length : 0] = '\0';
    return read;
}

bool DeleteRegistryValue(KeyRef hive, const char* key, const char* name, std::uint32_t view)
{
    KeyRef opened = 0;
    if (Sys().RegistryOpen(hive, key, kKeyAllAccess | view, opened) != kRegistryOk) return false;
    bool deleted = Sys().RegistryDeleteValue(opened, name) == kRegistryOk;
    Sys().RegistryClose(opened);
    return deleted;
}

bool DeleteRegistryKey(KeyRef hive, const char* key)
{
    return Sys().RegistryDeleteKey(hive, key) == kRegistryOk;
}

bool RuleTestHolds(const BagleRegistryRule& rule, const char* lowerData)
{
    bool systemAndName = std::strstr(lowerData, "system") && std::strstr(lowerData, rule.fileName);
    if (rule.test == TestSysdirOrSystemAndName) return std::strstr(lowerData, "sysdir") || systemAndName;
    return systemAndName;
}

// The rule in each view of its hive, for the selected user.
static void ApplyRuleForUser(const BagleRegistryRule& rule)
{
    std::uint32_t views[kMaxRegistryViews];
    const std::size_t viewCount = RegistryViewsOf(rule.hive, views);
    for (std::size_t v = 0; v < viewCount; ++v) {
        char data[kRuleDataLimit + 1];
        if (!ReadRegistryValue(rule.hive, rule.key, rule.value, data, sizeof data, views[v])) continue;
        ToLowerAscii(data);
        bool holds = RuleTestHolds(rule, data);
        if (holds && DeleteRegistryValue(rule.hive, rule.key, rule.value, views[v])) ReportRemoval(rule.label);
        if (!holds && !rule.followUpsWhenRead) continue;
        for (const RegistryFollowUp& followUp : rule.followUps) RunFollowUp(followUp);
    }
}

// Runs `step` with each user's HKEY_CURRENT_USER current in turn, as if
// each had logged on: a running system has one user, a disk's hives one per
// profile. The first user is current again afterwards.
template <typename Step>
void ForEveryRegistryUser(Step step)
{
    const std::uint32_t users = Sys().RegistryUserCount();
    for (std::uint32_t user = 0; user < users; ++user) {
        if (users > 1 && !Sys().SelectRegistryUser(user)) continue;
        step();
    }
    if (users > 1) Sys().SelectRegistryUser(0);
}

void ApplyBagleRule(const BagleRegistryRule& rule)
{
    // The machine's rules have no follow-ups: they run once.
    if (rule.hive == kKeyCurrentUser) ForEveryRegistryUser([&rule] { ApplyRuleForUser(rule); });
    else ApplyRuleForUser(rule);
}

std::int32_t CleanBagleRegistry(const char*)
{
    for (const BagleRegistryRule& rule : BagleRegistryRules) ApplyBagleRule(rule);
    if (examinedFilePath[0] != '\0') {
        std::uint32_t views[kMaxRegistryViews];
        const std::size_t viewCount = RegistryViewsOf(kKeyLocalMachine, views);
        for (std::size_t v = 0; v < viewCount; ++v) CleanRunValues(kKeyLocalMachine, kRunKeyPath, views[v]);
        ForEveryRegistryUser([] { CleanRunValues(kKeyCurrentUser, kRunKeyPath); });
    }
    return 1;
}

bool CommandStartsWithPath(const char* command, const char* path)
{
    std::size_t length = std::strlen(path);
    if (length == 0) return false;
    // strncmp stops at the command's end, so a shorter command never
    // matches and command[length] is inside it when the first bytes agree.
    return std::strncmp(command, path, length) == 0 && IsEndOfPath(command[length]);
}

void CleanRunValues(KeyRef hive, const char* key, std::uint32_t view)
{
    KeyRef opened = 0;
    if (Sys().RegistryOpen(hive, key, kKeyRead | view, opened) != kRegistryOk) return;
    std::uint32_t count = 0;
    if (Sys().RegistryValueCount(opened, count) != kRegistryOk) count = 0;

    char* path = examinedFilePath;
    const std::size_t pathSize = sizeof examinedFilePath;
    path[pathSize - 1] = '\0';

    // Deleted values shift the later ones down by one position each.
    std::uint32_t deleted = 0;
    char name[kValueNameBufferSize];
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t nameLength = kValueNameLimit;
        if (Sys().RegistryEnumValue(opened, i - deleted, name, nameLength) != kRegistryOk) continue;
        if (!std::strchr(path, '\\')) break;

        char* data = ReadWholeValue(opened, name);
        if (!data) continue;
        ToLowerAscii(data);
        ToLowerAscii(path);
        ExpandCommandHead(data);
        bool startsInfected = path[0] != '\0' && (CommandStartsWithPath(CommandOf(data), path) ||
                                                  CommandStartsWithPath(CommandOf(expandedCommand), path));
        std::free(data);
        if (path[0] == '\0') break;

        if (startsInfected && DeleteRegistryValue(hive, key, name, view)) {
            ReportRemoval(kRunValueLabel);
            ++deleted;
        }
    }
    Sys().RegistryClose(opened);
}
