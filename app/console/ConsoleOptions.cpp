#include "app/console/ConsoleOptions.h"

#include <cstdio>
#include <cstring>

#include "app/console/ConsoleScan.h"
#include "app/console/ConsoleText.h"
#include "scan/BinaryExamination.h"
#include "scan/BoundedText.h"
#include "scan/ProductText.h"
#include "scan/QuarantineManifest.h"

const char kConsoleVersion[] = "quellor-scan " QUELLOR_VERSION;

namespace {

enum Flag {
    FlagRemove,
    FlagRename,
    FlagNoMemory,
    FlagQuiet,
    FlagJson,
    FlagHelp,
    FlagVersion,
    FlagNoQuarantine,
    FlagQuarantineFolder,
    FlagList,
    FlagRestore,
    FlagTo,
    FlagPurge,
    FlagPurgeOlderThan,
    FlagLog,
    FlagOffline
};

struct OptionName {
    const char* text;
    Flag flag;
    const char* value;  // what the option's value is called; null: it takes none
};

const OptionName kOptionNames[] = {
    {"--remove", FlagRemove, nullptr},
    {"--rename", FlagRename, nullptr},
    {"--no-memory", FlagNoMemory, nullptr},
    {"--quiet", FlagQuiet, nullptr},
    {"--json", FlagJson, nullptr},
    {"--help", FlagHelp, nullptr},
    {"-h", FlagHelp, nullptr},
    {"--version", FlagVersion, nullptr},
    {"--no-quarantine", FlagNoQuarantine, nullptr},
    {"--quarantine", FlagQuarantineFolder, "a folder"},
    {"--quarantine-list", FlagList, nullptr},
    {"--restore", FlagRestore, "an entry's ID"},
    {"--to", FlagTo, "a path"},
    {"--purge", FlagPurge, "an entry's ID"},
    {"--purge-older-than", FlagPurgeOlderThan, "a number of days"},
    {"--log", FlagLog, "a file"},
    {"--offline", FlagOffline, "the root folder of a Windows disk"},
};

// The quarantine's commands, by their options.
const struct {
    Flag flag;
    ConsoleCommand command;
} kCommands[] = {
    {FlagList, CommandListQuarantine},
    {FlagRestore, CommandRestore},
    {FlagPurge, CommandPurge},
    {FlagPurgeOlderThan, CommandPurgeOlderThan},
};

const std::uint32_t kMaxDays = 100000;

// An entry's id as typed: 8 hexadecimal digits in either case.
bool ReadEntryId(const char* text, std::string& id)
{
    id = text;
    for (char& c : id) c = UpperAscii(c);
    return id.size() == kQuarantineIdSize - 1 && IsQuarantineId(id.c_str());
}

bool ReadDays(const char* text, std::uint32_t& days)
{
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 6) return false;
    days = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        days = days * 10 + static_cast<std::uint32_t>(text[i] - '0');
    }
    return days <= kMaxDays;
}

// Takes the value of an option that has one.
bool TakeValue(const OptionName& option, const char* value, ConsoleOptions& options, std::string& error)
{
    switch (option.flag) {
    case FlagQuarantineFolder:
        options.quarantineFolder = value;
        return true;
    case FlagTo:
        options.restoreTo = value;
        return true;
    case FlagLog:
        options.logFile = value;
        return true;
    case FlagOffline:
        if (value[0] != '\0') {
            options.offline = value;
            return true;
        }
        error = "--offline needs the root folder of a Windows disk";
        return false;
    case FlagRestore:
    case FlagPurge:
        if (ReadEntryId(value, options.entry)) return true;
        error = std::string("'") + value + "' is not a quarantine entry ID (8 hexadecimal digits)";
        return false;
    case FlagPurgeOlderThan:
        if (ReadDays(value, options.days)) return true;
        error = std::string("'") + value + "' is not a number of days (0 to " + std::to_string(kMaxDays) + ")";
        return false;
    default:
        return true;
    }
}

// The rules between the options of one command line.
bool CheckCombination(const ConsoleOptions& options, const bool* given, std::string& error)
{
    const char* command = nullptr;
    for (const auto& row : kCommands) {
        if (row.command != options.command) continue;
        for (const OptionName& name : kOptionNames) {
            if (name.flag == row.flag) command = name.text;
        }
    }
    if (!command) {
        if (given[FlagTo]) error = "--to is used only with --restore";
        else if (given[FlagOffline] && !options.targets.empty())
            error = "--offline ROOT takes the place of folders and files to scan: name none beside it";
        return error.empty();
    }
    const std::string what = command;
    if (!options.targets.empty() || given[FlagOffline]) error = what + " takes no folder or file to scan";
    else if (given[FlagRemove] || given[FlagRename]) error = what + " cannot be used with --remove or --rename";
    else if (given[FlagNoQuarantine]) error = what + " cannot be used with --no-quarantine";
    else if (given[FlagLog]) error = "--log records scans; " + what + " writes no record";
    else if (given[FlagTo] && options.command != CommandRestore) error = "--to is used only with --restore";
    else if (options.json && options.command != CommandListQuarantine)
        error = "--json is for scans and --quarantine-list";
    return error.empty();
}

}  // namespace

ConsoleOptions DefaultConsoleOptions()
{
    ConsoleOptions options;
    options.command = CommandScan;
    options.action = kActionReportOnly;
    options.memory = true;
    options.quiet = false;
    options.json = false;
    options.help = false;
    options.version = false;
    options.quarantine = true;
    options.days = 0;
    return options;
}

bool ParseConsoleArguments(int argc, const char* const* argv, ConsoleOptions& options, std::string& error)
{
    options = DefaultConsoleOptions();
    bool given[FlagOffline + 1] = {};
    bool onlyTargets = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (onlyTargets || argument[0] != '-' || std::strcmp(argument, "-") == 0) {
            options.targets.push_back(argument);
            continue;
        }
        if (std::strcmp(argument, "--") == 0) {
            onlyTargets = true;
            continue;
        }
        const OptionName* known = nullptr;
        for (const OptionName& name : kOptionNames) {
            if (std::strcmp(argument, name.text) == 0) known = &name;
        }
        if (!known) {
            error = std::string("unknown option '") + argument + "'";
            return false;
        }
        if (given[known->flag] && known->flag == FlagOffline) {
            error = "--offline names one disk";
            return false;
        }
        if (known->value) {
            if (i + 1 >= argc) {
                error = std::string(argument) + " needs " + known->value;
                return false;
            }
            if (!TakeValue(*known, argv[++i], options, error)) return false;
        }
        given[known->flag] = true;
        switch (known->flag) {
        case FlagNoMemory: options.memory = false; break;
        case FlagQuiet: options.quiet = true; break;
        case FlagJson: options.json = true; break;
        case FlagHelp: options.help = true; break;
        case FlagVersion: options.version = true; break;
        case FlagNoQuarantine: options.quarantine = false; break;
        default: break;
        }
    }
    if (given[FlagRemove] && given[FlagRename]) {
        error = "--remove and --rename cannot be used together";
        return false;
    }
    if (given[FlagNoQuarantine] && given[FlagQuarantineFolder]) {
        error = "--quarantine and --no-quarantine cannot be used together";
        return false;
    }
    for (const auto& row : kCommands) {
        if (!given[row.flag]) continue;
        if (options.command != CommandScan) {
            error = "--quarantine-list, --restore, --purge and --purge-older-than cannot be used together";
            return false;
        }
        options.command = row.command;
    }
    if (!CheckCombination(options, given, error)) return false;
    if (given[FlagRemove]) options.action = kActionDelete;
    if (given[FlagRename]) options.action = kActionRename;
    return true;
}

std::string ConsoleUsage(ConsoleSystem system)
{
    const bool onLinux = system == ConsoleOnLinux;
    std::string text = "usage: quellor-scan [options] ";
    text += onLinux ? "FOLDER|FILE...\n"
                    "       quellor-scan [options] --offline ROOT\n"
                  : "[FOLDER|FILE...]\n";
    text += "       quellor-scan [--quarantine DIR] --quarantine-list | --restore ID [--to PATH]\n"
            "                    | --purge ID | --purge-older-than DAYS\n";
    text += onLinux ? "Scans the named folders and files, or a Windows disk that is not running.\n"
                  : "Scans the named folders and files, or every fixed drive when none is named.\n";
    text +=
        "Detected files are only reported unless an action is chosen.\n"
        "\n"
        "  --remove     delete detected files (reset attributes, delete, end the process\n"
        "               running it and delete again, else delete at the next start)\n"
        "  --rename     rename detected files (the extension's first letter becomes 'V')\n"
        "  --no-memory  do not examine the running processes first\n"
        "  --quiet      print only detections and the statistics\n"
        "  --json       print one JSON object per detection and one for the summary\n"
        "  --log FILE   append a record of the run to FILE: every result line, the\n"
        "               quarantine entry of each file changed, the statistics\n"
        "               (the oldest runs give way past 1 MiB)\n"
        "  --help       print this text\n"
        "  --version    print the version\n";
    if (onLinux) {
        text +=
            "  --offline ROOT  scan the Windows disk mounted at ROOT (the root folder of its\n"
            "               system drive) as its drive C:, and clean its registry hives\n"
            "               (the machine's and every user's) with --remove or --rename;\n"
            "               the original of each hive changed is kept in the quarantine\n"
            "               first. A removal needs the disk mounted read-write.\n";
    }
    text +=
        "\n"
        "A file is kept in the quarantine before --remove or --rename changes it, so a\n"
        "wrong detection can be undone; a file that cannot be kept is still removed\n"
        "and is reported as not quarantined.\n"
        "  --no-quarantine           remove or rename without keeping a copy\n"
        "  --quarantine DIR          the quarantine's folder; by default ";
    text += onLinux ? "$XDG_DATA_HOME/quellor/quarantine\n"
                    "                            (~/.local/share/quellor/quarantine)\n"
                  : "the program's own\n"
                    "                            folder of the system\n";
    text +=
        "  --quarantine-list         list the entries (with --json: one object each)\n"
        "  --restore ID [--to PATH]  put the file of entry ID back where it was, or at\n"
        "                            PATH (into it, when PATH is a folder), byte for\n"
        "                            byte; an existing file is never overwritten\n"
        "  --purge ID                remove entry ID from the quarantine\n"
        "  --purge-older-than DAYS   remove the entries older than DAYS days\n"
        "\n"
        "Exit status: 0 nothing found; 1 found (and handled as asked); 3 found, and a\n"
        "restart is needed to finish; 2 usage error, or something could not be read\n"
        "and nothing was found. The quarantine's commands exit with 0 when done and\n"
        "with 2, changing nothing, on a bad ID or a damaged entry.\n";
    return text;
}

bool ReadConsoleCommandLine(int argc, const char* const* argv, ConsoleSystem system, ConsoleOptions& options,
                            int& exitStatus)
{
    std::string error;
    bool read = ParseConsoleArguments(argc, argv, options, error);
    if (read && system != ConsoleOnLinux && !options.offline.empty()) {
        // A disk of a Windows that is not running is cleaned from Linux;
        // here its drive can be scanned like any other.
        error = "--offline is for quellor-scan on Linux; name the disk's drive (such as D:) to scan its files";
        read = false;
    }
    if (!read) {
        PutLine(stderr, "quellor-scan: " + error);
        std::fputs("Try 'quellor-scan --help'.\n", stderr);
        exitStatus = kExitTrouble;
        return false;
    }
    if (options.help) {
        std::fputs(ConsoleUsage(system).c_str(), stdout);
        exitStatus = kExitClean;
        return false;
    }
    if (options.version) {
        std::fputs(kConsoleVersion, stdout);
        std::fputc('\n', stdout);
        exitStatus = kExitClean;
        return false;
    }
    return true;
}
