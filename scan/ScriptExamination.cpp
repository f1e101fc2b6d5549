// The second examination of the handler table: small infected scripts and
// web pages, recognised by their text without white space and removed or
// renamed whole. A file is never rewritten.
#include <cstring>

#include "platform/Platform.h"
#include "scan/BinaryExamination.h"
#include "scan/BoundedText.h"
#include "scan/ResultLines.h"
#include "scan/ScanState.h"
#include "scan/Wow64View.h"
#include "scan/ScriptMatch.h"
#include "scan/ScriptSignature.h"
#include "scan/VirusHandler.h"

namespace {

void RecordScriptDetection(const ScriptSignatureRecord& record, const char* path)
{
    // The name field need not hold its terminator.
    std::size_t length = BoundedLength(record.name, sizeof record.name);
    char threat[kScriptNameSize + 1];
    std::memcpy(threat, record.name, length);
    threat[length] = '\0';
    CopyText(lastThreatName, sizeof lastThreatName, threat);
    CopyText(ScanState.statusText, sizeof ScanState.statusText, path);
}

// Scripts and pages are only deleted or renamed: no attribute change, no
// process to end, no deletion at the next start. A failure is reported and
// the file counts as handled all the same.
void ApplyScriptAction(const char* path)
{
    switch (cleanAction) {
    case kActionDelete:
    case kActionDeleteAlso: {
        const QuarantineNote kept = KeepDetectedFile(path, lastThreatName);
        if (RemoveReachableFile(path)) {
            ++ScanStatistics.filesRemoved;
            ReportResult(LineScriptRemoved, path, lastThreatName, kept);
        } else {
            ReportResult(LineUnableToRemove, path, lastThreatName, kept);
        }
        break;
    }
    case kActionRename: {
        QuarantineNote kept;
        const bool renamed = RenameToMarkedName(path, lastThreatName, kept);
        ReportResult(renamed ? LineScriptRenamed : LineRenameFailed, path, lastThreatName, kept);
        break;
    }
    case kActionReportOnly:
        ReportResult(LineScriptNotDisinfected, path, lastThreatName);
        break;
    default:
        break;
    }
}

}  // namespace

std::int32_t ExamineScriptFile(const char*, const char* path)
{
    if (!scriptTableReady) {
        scriptTableReady = true;
        DescrambleScriptTable();
    }
    FileRef file = OpenReachableForRead(path);
    if (file == kNoFile) return 0;
    std::int32_t slot = MatchScriptSignatures(file);
    // Closed before anything is done to the file.
    Sys().CloseFile(file);
    if (slot == kNoScriptRecord) return 0;
    RecordScriptDetection(ScriptSignatureTable[slot], path);
    ApplyScriptAction(path);
    return 1;
}
