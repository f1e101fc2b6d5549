#include "scan/ResultLines.h"

#include "scan/ScanState.h"

const ResultLineFormat ResultLineFormats[kResultLineCount] = {
    {LineRemoved, "%s     %s removed", 2},
    {LineRenamed, "%s     %s renamed", 2},
    {LineRenameFailed, "%s     %s Rename failed", 2},
    {LineUnableToRemove, "%s     %s Unable to remove", 2},
    {LineNotDisinfected, "%s     %s not disinfected as per user's selection", 2},
    {LineScriptRemoved, "%s     %s Virus removed", 2},
    {LineScriptRenamed, "%s     %s Virus renamed", 2},
    {LineScriptNotDisinfected, "%s     %s Not Disinfected As Per User's Selection", 2},
    {LineSystemMemory, "System Memory    W32/MurkEl.Trojan removed", 0},
    {LineSystemRegistry, "System Registry     %s removed", 1},
};

void FormatResultLine(ResultLine line, const char* first, const char* second, char* out, std::size_t size)
{
    if (size == 0) return;
    std::size_t used = 0;
    out[0] = '\0';
    const int index = static_cast<int>(line);
    if (index < 0 || index >= static_cast<int>(kResultLineCount)) return;
    const char* arguments[2] = {first ? first : "", second ? second : ""};
    int next = 0;
    // Copies one character while room is left for the terminator.
    auto put = [&](char c) {
        if (used + 1 < size) out[used++] = c;
    };
    for (const char* p = ResultLineFormats[index].format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < 2) {
                for (const char* a = arguments[next]; *a; ++a) put(*a);
            }
            ++next;
            ++p;
            continue;
        }
        put(*p);
    }
    out[used] = '\0';
}

void AppendLine(ResultLine line, const char* first, const char* second)
{
    char text[kLineTextSize];
    FormatResultLine(line, first, second, text, sizeof text);
    AppendResultLine(text);
}
