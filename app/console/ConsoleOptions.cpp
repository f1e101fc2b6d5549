#include "app/console/ConsoleOptions.h"

#include <cstdio>
#include <cstring>

#include "app/console/ConsoleScan.h"
#include "scan/BinaryExamination.h"

const char kConsoleVersion[] = "quellor-scan 7.0";

namespace {

enum Flag { FlagRemove, FlagRename, FlagNoMemory, FlagQuiet, FlagJson, FlagHelp, FlagVersion };

struct OptionName {
    const char* text;
    Flag flag;
};

const OptionName kOptionNames[] = {
    {"--remove", FlagRemove}, {"--rename", FlagRename}, {"--no-memory", FlagNoMemory}, {"--quiet", FlagQuiet},
    {"--json", FlagJson},     {"--help", FlagHelp},     {"-h", FlagHelp},              {"--version", FlagVersion},
};

}  // namespace

ConsoleOptions DefaultConsoleOptions()
{
    ConsoleOptions options;
    options.action = kActionReportOnly;
    options.memory = true;
    options.quiet = false;
    options.json = false;
    options.help = false;
    options.version = false;
    return options;
}

bool ParseConsoleArguments(int argc, const char* const* argv, ConsoleOptions& options, std::string& error)
{
    options = DefaultConsoleOptions();
    bool remove = false;
    bool rename = false;
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
        switch (known->flag) {
        case FlagRemove: remove = true; break;
        case FlagRename: rename = true; break;
        case FlagNoMemory: options.memory = false; break;
        case FlagQuiet: options.quiet = true; break;
        case FlagJson: options.json = true; break;
        case FlagHelp: options.help = true; break;
        case FlagVersion: options.version = true; break;
        }
    }
    if (remove && rename) {
        error = "--remove and --rename cannot be used together";
        return false;
    }
    if (remove) options.action = kActionDelete;
    if (rename) options.action = kActionRename;
    return true;
}

std::string ConsoleUsage(bool targetsRequired)
{
    std::string text = "usage: quellor-scan [options] ";
    text += targetsRequired ? "FOLDER|FILE...\n" : "[FOLDER|FILE...]\n";
    text += targetsRequired ? "Scans the named folders and files.\n"
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
        "  --help       print this text\n"
        "  --version    print the version\n"
        "\n"
        "Exit status: 0 nothing found; 1 found (and handled as asked); 3 found, and a\n"
        "restart is needed to finish; 2 usage error, or something could not be read\n"
        "and nothing was found.\n";
    return text;
}

bool ReadConsoleCommandLine(int argc, const char* const* argv, bool targetsRequired, ConsoleOptions& options,
                            int& exitStatus)
{
    std::string error;
    if (!ParseConsoleArguments(argc, argv, options, error)) {
        std::fputs(("quellor-scan: " + error + "\nTry 'quellor-scan --help'.\n").c_str(), stderr);
        exitStatus = kExitTrouble;
        return false;
    }
    if (options.help) {
        std::fputs(ConsoleUsage(targetsRequired).c_str(), stdout);
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
