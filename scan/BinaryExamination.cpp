#include "scan/BinaryExamination.h"

#include <cstring>

#include "cleanup/ProcessTermination.h"
#include "cleanup/RegistryCleanup.h"
#include "platform/Platform.h"
#include "scan/ArchiveDetectors.h"
#include "scan/BoundedText.h"
#include "scan/DeleteOnRestart.h"
#include "scan/PeLayout.h"
#include "scan/ResultLines.h"
#include "scan/ScanState.h"
#include "scan/Wow64View.h"
#include "scan/SignatureMatch.h"
#include "scan/SignatureRecord.h"
#include "scan/VirusHandler.h"

namespace {

ImageTerminator imageTerminator = TerminateProcessByImage;

// How a detection was made; it decides whether the registry is cleaned and
// whether memory-scan mode only records it.
enum DetectionKind { NotInfected, SignatureHit, ArchiveDetectorHit, ArchiveWormHit };

void ClearExaminedPath()
{
    std::memset(examinedFilePath, 0, sizeof examinedFilePath);
}

// A record's name, bounded by its field.
void CopyRecordName(char* out, std::size_t size, const SignatureRecord& record)
{
    if (size == 0) return;
    std::size_t length = BoundedLength(record.name, sizeof record.name);
    if (length >= size) length = size - 1;
    std::memcpy(out, record.name, length);
    out[length] = '\0';
}

// Recording a detection: the threat name and the file's path stay behind
// for the result lines and for the memory scan.
void RecordDetection(const char* threat, const char* path)
{
    CopyText(lastThreatName, sizeof lastThreatName, threat);
    CopyText(ScanState.statusText, sizeof ScanState.statusText, path);
}

// Runs the examination order on the open file. Fills `threat` on a hit.
DetectionKind Examine(FileRef file, std::int32_t length, char* threat, std::size_t threatSize)
{
    PeLayout layout;
    if (ReadPeHeader(file, layout)) {
        if (!ReadPeSections(file, layout)) return NotInfected;
        std::int32_t record = MatchSignatureTable(file, length, layout);
        if (record == kNoRecord) return NotInfected;
        CopyRecordName(threat, threatSize, SignatureTable[record]);
        return SignatureHit;
    }
    if (const char* detected = MatchArchiveDetectors(file)) {
        CopyText(threat, threatSize, detected);
        return ArchiveDetectorHit;
    }
    std::int32_t record = MatchArchiveWormTable(file, length);
    if (record == kNoRecord) return NotInfected;
    CopyRecordName(threat, threatSize, ArchiveWormTable[record]);
    return ArchiveWormHit;
}

void DeleteDetectedFile(const char* path)
{
    // Kept before anything is changed, so even a file that only goes at the
    // next start can be given back.
    const QuarantineNote kept = KeepDetectedFile(path, lastThreatName);
    // Archive only: read-only, hidden and system would each stop or hide
    // the deletion.
    if (!SetReachableAttributes(path, kAttrArchive)) {
        ReportResult(LineUnableToRemove, path, lastThreatName, kept);
        return;
    }
    bool removed = RemoveReachableFile(path);
    // A file in use is deleted once the process running it has ended.
    if (!removed && imageTerminator(path) != 0) removed = RemoveReachableFile(path);
    if (removed) {
        ++ScanStatistics.filesRemoved;
        ReportResult(LineRemoved, path, lastThreatName, kept);
        return;
    }
    ReportResult(LineUnableToRemove, path, lastThreatName, kept);
    // Once one file waits for the next start, the session must end with the
    // restart question: a later file that cannot be scheduled does not take
    // that back.
    if (ScheduleDeleteOnRestart(path)) ScanState.restartNeeded = 1;
}

void RenameDetectedFile(const char* path)
{
    QuarantineNote kept;
    const bool renamed = RenameToMarkedName(path, lastThreatName, kept);
    ReportResult(renamed ? LineRenamed : LineRenameFailed, path, lastThreatName, kept);
}

}  // namespace

bool MakeRenamedPath(const char* path, char* out, std::size_t size)
{
    if (!CopyText(out, size, path)) return false;
    long dot = LastIndexOf(out, '.');
    if (dot < 0) return true;
    std::size_t at = static_cast<std::size_t>(dot) + 1;
    if (out[at] != '\0') {
        out[at] = 'V';
        return true;
    }
    // Nothing follows the last '.': the 'V' is added, room permitting.
    if (at + 1 >= size) return false;
    out[at] = 'V';
    out[at + 1] = '\0';
    return true;
}

bool RenameToMarkedName(const char* path, const char* threat, QuarantineNote& quarantine)
{
    std::memset(&quarantine, 0, sizeof quarantine);
    char renamed[kPathBufferSize];
    if (!MakeRenamedPath(path, renamed, sizeof renamed)) return false;
    // A path without '.' or with a 'V' already in that place names the file
    // itself; the platform answers a move onto itself with success although
    // nothing changed, so it is not asked.
    if (EqualsNoCase(renamed, path)) return false;
    quarantine = KeepDetectedFile(path, threat);
    return RenameReachableFile(path, renamed);
}

void ApplyCleanAction(const char* path)
{
    // Every line names the full path given here. After a detection it is the
    // path just recorded in the status text; in the forced re-examination of
    // a process image the status text holds the path shortened for display,
    // so the lines never read it back from there.
    switch (cleanAction) {
    case kActionDelete:
    case kActionDeleteAlso:
        DeleteDetectedFile(path);
        break;
    case kActionRename:
        RenameDetectedFile(path);
        break;
    case kActionReportOnly:
        ReportResult(LineNotDisinfected, path, lastThreatName);
        break;
    default:
        break;
    }
}

void UseImageTerminator(ImageTerminator terminator)
{
    imageTerminator = terminator ? terminator : TerminateProcessByImage;
}

std::int32_t ExamineBinaryFile(const char*, const char* path)
{
    // The memory scan re-offers the image of a process it has just ended:
    // the file is acted on at once, under the threat recorded when the same
    // file was found in memory.
    if (forcedAction != 0 && ScanState.resultSink != 0) {
        cleanAction = forcedAction;
        ReportResult(LineSystemMemory, nullptr, kMemoryThreatName);
        Sys().Wait(kForcedActionWaitMs);
        ApplyCleanAction(path);
        return 0;
    }

    FileRef file = OpenReachableForRead(path);
    if (file == kNoFile) return 0;
    // A path the shared buffer cannot hold whole is left out of it, so the
    // Run-value scan never works from a cut path.
    if (!CopyText(examinedFilePath, sizeof examinedFilePath, path)) ClearExaminedPath();

    char threat[kPathBufferSize];
    DetectionKind kind = NotInfected;
    std::int32_t length = Sys().FileLength(file);
    if (length >= 0) kind = Examine(file, length, threat, sizeof threat);
    Sys().CloseFile(file);
    if (kind == NotInfected) {
        ClearExaminedPath();
        return 0;
    }

    ++ScanStatistics.filesInfected;
    // Detector hits are named by their archive headers alone and carry no
    // registry traces of their own.
    if (kind != ArchiveDetectorHit) CleanBagleRegistry(threat);
    RecordDetection(threat, path);
    if (kind == SignatureHit && memoryScanMode) {
        // The memory scan ends the process first and then re-offers the
        // image with a forced action.
        foundInMemory = true;
        ClearExaminedPath();
        return 1;
    }
    ApplyCleanAction(path);
    ClearExaminedPath();
    return 1;
}
