#include "scan/ScanState.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/ScanSession.h"
#include "scan/Wow64View.h"

ScanStatisticsType ScanStatistics;
ScanStateType ScanState;

bool memoryScanMode;
bool foundInMemory;
std::int32_t forcedAction;
bool memoryRestartNeeded;
int platformClass;
std::int32_t cleanAction;

char lastThreatName[kPathBufferSize];
char examinedFilePath[kPathBufferSize + 1];

void SendStatus()
{
    Sys().NotifyWindow(ScanState.resultSink, ShowStatusMessage);
}

void AppendResultLine(const char* text)
{
    CopyText(ScanState.lineText, sizeof ScanState.lineText, text);
    Sys().NotifyWindow(ScanState.resultSink, AppendLineMessage);
}

void ResetScanGlobals()
{
    std::memset(&ScanStatistics, 0, sizeof ScanStatistics);
    std::memset(&ScanState, 0, sizeof ScanState);
    memoryScanMode = false;
    foundInMemory = false;
    forcedAction = 0;
    memoryRestartNeeded = false;
    platformClass = 0;
    cleanAction = 0;
    std::memset(lastThreatName, 0, sizeof lastThreatName);
    std::memset(examinedFilePath, 0, sizeof examinedFilePath);
    ResetWow64View();
    ResetMessagePacing();
    StopQuarantine();
    SetQuarantinePathNamer(nullptr, nullptr);
}
