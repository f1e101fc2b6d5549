#include "scan/ResultLines.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/RunRecord.h"
#include "scan/ScanState.h"

const ResultLineFormat ResultLineFormats[kResultLineCount] = {
    {LineRemoved, "%s     %s removed", true, ResultDelete, ResultDone},
    {LineRenamed, "%s     %s renamed", true, ResultRename, ResultDone},
    {LineRenameFailed, "%s     %s Rename failed", true, ResultRename, ResultFailed},
    {LineUnableToRemove, "%s     %s Unable to remove", true, ResultDelete, ResultFailed},
    {LineNotDisinfected, "%s     %s not disinfected as per user's selection", true, ResultReport, ResultDone},
    {LineScriptRemoved, "%s     %s Virus removed", true, ResultDelete, ResultDone},
    {LineScriptRenamed, "%s     %s Virus renamed", true, ResultRename, ResultDone},
    {LineScriptNotDisinfected, "%s     %s Not Disinfected As Per User's Selection", true, ResultReport,
     ResultDone},
    {LineSystemMemory, "System Memory    %s removed", false, ResultDelete, ResultDone},
    {LineSystemRegistry, "System Registry     %s removed", false, ResultDelete, ResultDone},
};

namespace {

ResultRecordSink recordSink = nullptr;
void* recordContext = nullptr;

bool IsKnown(ResultLine line)
{
    const int index = static_cast<int>(line);
    return index >= 0 && index < static_cast<int>(kResultLineCount);
}

}  // namespace

void SetResultRecordSink(ResultRecordSink sink, void* context)
{
    recordSink = sink;
    recordContext = context;
}

void FormatResultLine(ResultLine line, const char* path, const char* threat, char* out, std::size_t size)
{
    if (size == 0) return;
    std::size_t used = 0;
    out[0] = '\0';
    if (!IsKnown(line)) return;
    const ResultLineFormat& format = ResultLineFormats[line];
    const char* arguments[2] = {format.namesPath ? path : threat, format.namesPath ? threat : nullptr};
    int next = 0;
    // Copies one character while room is left for the terminator.
    auto put = [&](char c) {
        if (used + 1 < size) out[used++] = c;
    };
    for (const char* p = format.format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < 2 && arguments[next]) {
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

void ReportResult(ResultLine line, const char* path, const char* threat)
{
    QuarantineNote none;
    std::memset(&none, 0, sizeof none);
    ReportResult(line, path, threat, none);
}

void ReportResult(ResultLine line, const char* path, const char* threat, const QuarantineNote& quarantine)
{
    char text[kLineTextSize];
    FormatResultLine(line, path, threat, text, sizeof text);
    AppendResultLine(text);
    RecordRunResult(line, path, threat, text, quarantine);
    if (!recordSink || !IsKnown(line)) return;
    ResultRecord record;
    std::memset(&record, 0, sizeof record);
    record.line = line;
    record.action = ResultLineFormats[line].action;
    record.outcome = ResultLineFormats[line].outcome;
    if (ResultLineFormats[line].namesPath) CopyText(record.path, sizeof record.path, path ? path : "");
    CopyText(record.threat, sizeof record.threat, threat ? threat : "");
    record.quarantine = quarantine;
    recordSink(record, recordContext);
}
