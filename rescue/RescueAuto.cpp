#include "rescue/RescueAuto.h"

#include <algorithm>

#include "rescue/RescueText.h"

namespace {

const char kPrefix[] = "quellor.";

std::vector<std::string> Split(const std::string& text, const char* separators)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (std::string(separators).find(c) != std::string::npos) {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string Lower(std::string text)
{
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

const struct {
    const char* word;
    AutoMode mode;
} kModes[] = {{"report", AutoReport}, {"clean", AutoClean}, {"off", AutoNone}};

const struct {
    const char* word;
    AutoAfter after;
} kAfters[] = {{"poweroff", AfterPowerOff}, {"reboot", AfterReboot}, {"stay", AfterStay}};

bool ModeOf(const std::string& word, AutoMode& mode)
{
    for (const auto& row : kModes) {
        if (word == row.word) return mode = row.mode, true;
    }
    return false;
}

bool AfterOf(const std::string& word, AutoAfter& after)
{
    for (const auto& row : kAfters) {
        if (word == row.word) return after = row.after, true;
    }
    return false;
}

}  // namespace

AutoPlan NoAutoPlan()
{
    return AutoPlan{AutoNone, true, {}, AfterPowerOff, {}};
}

void ReadAutoWords(const std::string& text, AutoPlan& plan)
{
    for (const std::string& word : Split(text, " \t\r\n")) {
        const std::string lower = Lower(word);
        if (lower.rfind(kPrefix, 0) != 0) continue;
        const std::size_t equals = lower.find('=');
        const std::string key = lower.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : lower.substr(equals + 1);
        bool understood = false;
        if (key == "quellor.auto") {
            understood = ModeOf(value, plan.mode);
        } else if (key == "quellor.after") {
            understood = AfterOf(value, plan.after);
        } else if (key == "quellor.screen") {
            // Where the screen is (a serial line): the program's, not the plan's.
            understood = !value.empty();
        } else if (key == "quellor.windows") {
            const std::vector<std::string> names = Split(value, ",");
            understood = !names.empty();
            if (understood) {
                plan.all = names.size() == 1 && names[0] == "all";
                plan.windows = plan.all ? std::vector<std::string>() : names;
            }
        }
        if (!understood) plan.problems.push_back(word);
    }
}

std::string AutoResultLine(const Volume& volume, const std::string& word, const std::string& detail)
{
    return "quellor-rescue: " + volume.device + " " + word + ": " + ShownText(detail);
}

std::vector<AutoChoice> ChooseForPlan(const AutoPlan& plan, const std::vector<Volume>& volumes,
                                      std::vector<std::string>& unmatched)
{
    unmatched.clear();
    const std::vector<std::size_t> numbered = WindowsVolumes(volumes);
    std::vector<std::size_t> chosen;
    if (plan.all) {
        chosen = numbered;
        // A Windows that cannot be read is named too, with why.
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            if (UsabilityOf(volumes[i]) == NotUsable) chosen.push_back(i);
        }
        std::sort(chosen.begin(), chosen.end());
    } else {
        for (const std::string& name : plan.windows) {
            std::size_t found = volumes.size();
            const bool number = name.find_first_not_of("0123456789") == std::string::npos;
            if (number) {
                const unsigned long n = std::stoul(name.substr(0, 9));
                if (n >= 1 && n <= numbered.size()) found = numbered[n - 1];
            } else {
                for (std::size_t i = 0; i < volumes.size(); ++i) {
                    if (volumes[i].device == name) found = i;
                }
            }
            if (found == volumes.size()) unmatched.push_back(name);
            else if (std::find(chosen.begin(), chosen.end(), found) == chosen.end()) chosen.push_back(found);
        }
    }
    std::vector<AutoChoice> choices;
    for (std::size_t index : chosen) {
        const Volume& volume = volumes[index];
        AutoChoice choice{index, false, std::string()};
        switch (UsabilityOf(volume)) {
        case UsableForAll:
            choice.clean = plan.mode == AutoClean;
            break;
        case UsableReportOnly:
            break;
        default:
            choice.skipped = WhyNotCleanable(volume);
            break;
        }
        choices.push_back(choice);
    }
    return choices;
}
