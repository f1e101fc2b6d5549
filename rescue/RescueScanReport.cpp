#include "rescue/RescueScanReport.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kProblemPrefix[] = "quellor-scan: ";

void SkipBlanks(const std::string& text, std::size_t& at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
}

void AppendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A JSON string starting at the quote at `at`; `at` ends after it.
bool ReadString(const std::string& text, std::size_t& at, std::string& out)
{
    if (at >= text.size() || text[at] != '"') return false;
    out.clear();
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= text.size()) return false;
        const char escaped = text[at];
        if (escaped == 'u') {
            if (at + 4 >= text.size()) return false;
            const std::string hex = text.substr(at + 1, 4);
            char* end = nullptr;
            const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
            if (end != hex.c_str() + 4) return false;
            AppendUtf8(out, code);
            at += 4;
        } else {
            static const char kFrom[] = "\"\\/bfnrt";
            static const char kTo[] = "\"\\/\b\f\n\r\t";
            const char* found = escaped ? std::strchr(kFrom, escaped) : nullptr;
            if (!found) return false;
            out += kTo[found - kFrom];
        }
    }
    return false;
}

// Any other value, as its raw text: up to the ',' or '}' that ends it at
// depth zero, strings inside skipped whole.
bool ReadRaw(const std::string& text, std::size_t& at, std::string& out)
{
    const std::size_t start = at;
    int depth = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"') {
            std::string ignored;
            if (!ReadString(text, at, ignored)) return false;
            continue;
        }
        if (c == '[' || c == '{') ++depth;
        if (c == ']' || c == '}') {
            if (depth == 0) break;
            --depth;
        }
        if (c == ',' && depth == 0) break;
        ++at;
    }
    out = text.substr(start, at - start);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    return depth == 0 && !out.empty();
}

int Number(const std::map<std::string, std::string>& members, const char* name)
{
    const auto found = members.find(name);
    return found == members.end() ? 0 : std::atoi(found->second.c_str());
}

std::string Member(const std::map<std::string, std::string>& members, const char* name)
{
    const auto found = members.find(name);
    return found == members.end() ? std::string() : found->second;
}

std::string Count(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool ReadJsonObject(const std::string& line, std::map<std::string, std::string>& members)
{
    members.clear();
    std::size_t at = 0;
    SkipBlanks(line, at);
    if (at >= line.size() || line[at] != '{') return false;
    ++at;
    SkipBlanks(line, at);
    if (at < line.size() && line[at] == '}') return true;
    while (at < line.size()) {
        std::string name;
        std::string value;
        SkipBlanks(line, at);
        if (!ReadString(line, at, name)) return false;
        SkipBlanks(line, at);
        if (at >= line.size() || line[at] != ':') return false;
        ++at;
        SkipBlanks(line, at);
        const bool read = at < line.size() && line[at] == '"' ? ReadString(line, at, value) : ReadRaw(line, at, value);
        if (!read) return false;
        members[name] = value;
        SkipBlanks(line, at);
        if (at < line.size() && line[at] == ',') {
            ++at;
            continue;
        }
        if (at < line.size() && line[at] == '}') {
            ++at;
            SkipBlanks(line, at);
            return at == line.size();
        }
        return false;
    }
    return false;
}

void TakeScanLine(ScanReport& report, const std::string& line)
{
    std::map<std::string, std::string> members;
    if (!ReadJsonObject(line, members)) return;
    const std::string type = Member(members, "type");
    if (type == "detection") {
        ++report.files;
        report.results.push_back(Member(members, "line"));
        if (Member(members, "quarantine") == "not quarantined") ++report.notQuarantined;
    } else if (type == "system") {
        ++report.registry;
        report.results.push_back(Member(members, "line"));
    } else if (type == "original") {
        if (Member(members, "quarantine") == "kept") ++report.originalsKept;
        else ++report.notQuarantined;
    } else if (type == "summary") {
        report.finished = true;
        report.scanned = Number(members, "scanned");
        report.infected = Number(members, "infected");
        report.removed = Number(members, "removed");
        report.problemCount = Number(members, "problems");
        report.problemsNotKept = Number(members, "notQuarantined");
        report.completed = Member(members, "completed") == "true";
        report.exitStatus = Number(members, "exitStatus");
    }
}

void TakeScanProblem(ScanReport& report, const std::string& line)
{
    if (line.empty()) return;
    report.problems.push_back(line.rfind(kProblemPrefix, 0) == 0 ? line.substr(sizeof kProblemPrefix - 1) : line);
}

void EndScan(ScanReport& report, int status)
{
    if (!report.finished || status != report.exitStatus) {
        // No summary, or the process did not end as it said: the run did not
        // finish as a whole.
        report.finished = report.finished && status == report.exitStatus;
        report.exitStatus = status;
    }
}

std::string OutcomeWord(const ScanReport& report)
{
    if (!report.finished) return "failed";
    if (!report.completed || report.problemCount > report.problemsNotKept || !report.problems.empty()) {
        return "incomplete";
    }
    if (report.infected == 0 && report.registry == 0) return "clean";
    return report.clean ? "cleaned" : "found";
}

std::vector<std::string> ScanOutcome(const ScanReport& report)
{
    std::vector<std::string> lines;
    if (!report.finished) {
        lines.push_back("The scan did not finish (exit status " + std::to_string(report.exitStatus) +
                        "): see the log on the stick.");
        for (const std::string& problem : report.problems) lines.push_back(problem);
        return lines;
    }
    std::string counted = Count(report.scanned, "file", "files") + " scanned, " +
                          Count(report.infected, "infected file", "infected files") + " found";
    if (report.registry > 0) counted += ", " + Count(report.registry, "registry entry", "registry entries");
    lines.push_back(counted + ".");
    if (report.infected == 0 && report.registry == 0) {
        lines.push_back("Nothing was found.");
    } else if (!report.clean) {
        lines.push_back("Nothing was changed (report only). Choose Clean to remove what was found.");
    } else {
        lines.push_back(Count(report.removed, "file", "files") + " removed" +
                        (report.registry > 0 ? ", the registry entries removed" : std::string()) + ".");
        if (report.notQuarantined == 0 && (report.originalsKept > 0 || report.removed > 0)) {
            lines.push_back("Everything removed is kept in the quarantine on the stick, and can be restored.");
        }
        if (report.notQuarantined > 0) {
            lines.push_back(Count(report.notQuarantined, "file was", "files were") +
                            " removed without a copy in the quarantine: see the log.");
        }
    }
    if (!report.completed) lines.push_back("The scan was stopped before it finished.");
    for (const std::string& problem : report.problems) lines.push_back("Problem: " + problem);
    return lines;
}
