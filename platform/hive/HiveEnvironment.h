// The environment of the Windows whose hives are mounted, as that Windows
// would expand %NAME% references: its own folders read from its hives and
// the machine's variables of Session Manager\Environment.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/hive/HiveFile.h"

// Variable values by upper-case name.
typedef std::map<std::string, std::string> HiveEnvironment;

// %SystemRoot%, %windir%, %SystemDrive% and %ProgramFiles% from SOFTWARE,
// then the values of SYSTEM\<controlSet>\Control\Session Manager\Environment
// (expanded with the others); the folders read from SOFTWARE win over
// variables of the same name.
HiveEnvironment ReadHiveEnvironment(const HiveFile& software, const HiveFile& system, const std::string& controlSet);

// `text` with every known %NAME% replaced (names without regard to case);
// an unknown reference stays as it is.
std::string ExpandHiveText(const HiveEnvironment& environment, const std::string& text);

// As ExpandEnvironmentStringsA: the size needed, terminator included; the
// result is written only when it fits in `size`.
std::uint32_t ExpandHiveEnvironment(const HiveEnvironment& environment, const char* text, char* out,
                                    std::uint32_t size);
