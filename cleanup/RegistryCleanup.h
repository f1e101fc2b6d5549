// Removal of the registry traces of a detected worm: the start-up values and
// keys that the W32/Bagle variants create, and every Run value whose command
// starts with the path of the infected file just found.
//
// Every deletion that succeeds is reported as one result line while a
// result sink is set; failures are silent and the next rule or value is
// tried.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

// The condition a rule puts on the lower-cased data of its value.
enum RegistryTest {
    TestSystemAndName,          // "system" and the rule's file name both occur
    TestSysdirOrSystemAndName   // "sysdir" occurs, or "system" and the file name both occur
};

enum FollowUpKind {
    FollowUpNone,
    FollowUpDeleteKey,    // delete the key (it must have no subkeys)
    FollowUpDeleteValue   // delete the value, when it can be read
};

// A further deletion of a rule, always under HKEY_CURRENT_USER.
struct RegistryFollowUp {
    FollowUpKind kind;
    const char* key;
    const char* value;  // FollowUpDeleteValue only
    const char* label;  // threat label of the result line
};

const std::size_t kMaxFollowUps = 2;

struct BagleRegistryRule {
    KeyRef hive;           // kKeyCurrentUser or kKeyLocalMachine
    const char* key;       // the key holding the value
    const char* value;     // the value tested and deleted
    RegistryTest test;
    const char* fileName;  // looked for by the test
    const char* label;     // threat label of the result line
    // The follow-ups run whenever the value could be read, whether or not
    // the test held; otherwise only when it held.
    bool followUpsWhenRead;
    RegistryFollowUp followUps[kMaxFollowUps];
};

const std::size_t kBagleRegistryRuleCount = 32;
// In the order they are applied.
extern const BagleRegistryRule BagleRegistryRules[kBagleRegistryRuleCount];

extern const char kRunKeyPath[];   // Software\Microsoft\Windows\CurrentVersion\Run
extern const char kRu1nKeyPath[];  // the same with "Ru1n" (digit one), used by two variants
extern const char kRunValueLabel[];  // label of the lines for Run values that start an infected file

// Largest data accepted, in bytes, by the rules.
const std::uint32_t kRuleDataLimit = 1000;
// Largest Run value the scan reads (whole); a larger one is left alone. Far
// beyond any real command: the 95/98/ME registry keeps at most 16 KiB a
// value.
const std::uint32_t kRunValueLimit = 16u * 1024 * 1024;
// Head of a Run command that is expanded, and the buffer of its expansion
// (the platform's own limit for an expansion is 32 Ki characters).
const std::size_t kExpandedHeadSize = 1024;
const std::uint32_t kExpandedCommandSize = 32 * 1024;
// Value names of the Run-value scan: buffer size, and the length limit
// given to the enumeration.
const std::uint32_t kValueNameBufferSize = 16384;
const std::uint32_t kValueNameLimit = 0x3FFF;

// `view` below is added to the access of every key opened: 0 for the
// program's own registry view, kKeyView64 for the 64-bit view under WoW64
// (see RegistryViewsOf).

// Reads the data of a value into `buffer` (of `size` bytes), whatever its
// type, and terminates it: data of more than `size` - 1 bytes is refused.
// Opens the key for reading and closes it again. True only when every step
// succeeded; on false the buffer holds an empty text.
bool ReadRegistryValue(KeyRef hive, const char* key, const char* name, char* buffer, std::size_t size,
                       std::uint32_t view = 0);

// Opens the key with full access, deletes the value and closes the key.
// True when the value was deleted.
bool DeleteRegistryValue(KeyRef hive, const char* key, const char* name, std::uint32_t view = 0);

// Deletes the key (not recursively: a key with subkeys may be refused).
bool DeleteRegistryKey(KeyRef hive, const char* key);

// The rule's test on data already in lower case.
bool RuleTestHolds(const BagleRegistryRule& rule, const char* lowerData);

// Applies one rule: test, deletion, follow-ups, result lines; in each
// registry view of the rule's hive. The follow-ups are all under
// HKEY_CURRENT_USER, which both views share.
void ApplyBagleRule(const BagleRegistryRule& rule);

// Applies every rule, then, when examinedFilePath is set, scans the Run keys
// of HKEY_LOCAL_MACHINE (each of its views) and HKEY_CURRENT_USER for values
// that start it.
// The label (the threat found) does not choose the rules: all of them run.
// Always 1.
std::int32_t CleanBagleRegistry(const char* label);

// Deletes every value of `hive`\`key` whose command, as stored or with its
// environment references expanded, starts with examinedFilePath (compared in
// lower case, a leading double quote skipped). Lower-cases examinedFilePath.
void CleanRunValues(KeyRef hive, const char* key, std::uint32_t view = 0);

// True when `command` starts with `path` (both already in lower case) and
// the path ends there: at the end of the command, a closing quote or a
// blank. An empty path matches nothing.
bool CommandStartsWithPath(const char* command, const char* path);
