// What quellor-scan's run log must hold, read back the way a person reads
// it: lines ending in CR LF, records of a header, the program and system
// lines, then the lines the console printed.
#pragma once

#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "console/ScannerRun.h"
#include "fixtures/InfectedFiles.h"
#include "scan/SignatureRecord.h"

namespace runlog_test {

inline const char kNotAvailable[] = "Not available on this system: memory, registry, services (files only)";

inline std::string InfectedPe()
{
    return infected::SignaturePe(SignatureTable[2]);
}

// The log's lines, each of which must end in CR LF.
inline std::vector<std::string> LogLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without its end: " << text.substr(start);
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

inline std::string SystemLine()
{
    struct utsname names;
    if (uname(&names) != 0) return "System: unknown";
    return std::string("System: ") + names.sysname + " " + names.release + " " + names.machine;
}

// What one run's record must hold after its header: the console's printed
// lines (the note of what is not available left out), a quarantine line
// after the result of each file named in `kept`, its undo command naming
// `store` when the run named its store, then the restart answer.
inline std::vector<std::string> ExpectedBody(const std::string& out,
                                             const std::vector<std::pair<std::string, std::string>>& kept,
                                             const std::string& store = std::string())
{
    const std::string storeOption = store.empty() ? std::string() : "--quarantine " + store + " ";
    std::vector<std::string> body;
    for (const std::string& line : Lines(out)) {
        if (line == kNotAvailable) continue;
        body.push_back(line);
        for (const auto& file : kept) {
            if (line.compare(0, file.first.size() + 5, file.first + "     ") == 0) {
                body.push_back("    Quarantine entry " + file.second + " (undo: quellor-scan " + storeOption +
                               "--restore " + file.second + ")");
            }
        }
    }
    body.push_back("Restart question: not asked");
    return body;
}

inline void ExpectRecord(const std::vector<std::string>& lines, std::size_t at, const std::vector<std::string>& body)
{
    ASSERT_GE(lines.size(), at + 3 + body.size());
    EXPECT_TRUE(std::regex_match(lines[at], std::regex(R"(=== Quellor run \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC)")))
        << lines[at];
    EXPECT_EQ("Program: quellor-scan 7.0 (" + std::to_string(sizeof(void*) * 8) + "-bit)", lines[at + 1]);
    EXPECT_EQ(SystemLine(), lines[at + 2]);
    EXPECT_EQ(body, std::vector<std::string>(lines.begin() + static_cast<long>(at) + 3,
                                             lines.begin() + static_cast<long>(at + 3 + body.size())));
}

}  // namespace runlog_test
