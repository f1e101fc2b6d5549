// The scan session: walks every fixed drive, offers every file to the
// handler table, appends the statistics and asks about a restart.
#pragma once

#include <cstddef>
#include <cstdint>

// Runs the whole scan: the memory scan, every fixed drive, then
// FinishScanSession. Always 1.
std::int32_t RunScanSession();

// The pieces of a session, for front ends that choose what to walk.
// Walks a folder pattern ("D:\\dir\\*.*"); at a drive root ("D:\\*.*") also
// its "Program Files" folder when the root's own walk did not reach it.
void WalkDriveRoot(const char* rootPattern);
// Walks every fixed drive from C: to Z: in turn.
void WalkFixedDrives();
// One named file, as the walk treats a file entry: shown, counted and
// offered to the handler table.
void ScanSingleFile(const char* fullPath);
// Appends the statistics block, writes the final word into the status line
// and asks about a restart when some file is only removed at the next start.
void FinishScanSession();

// Walks one folder pattern ("D:\\dir\\*.*", a drive root "D:\\*.*"), or in
// memory-scan mode the full path of one file. Returns -1 when a pattern
// without '.' had to be cut (the walk is abandoned), 0 when it stopped for a
// cancel, otherwise ScanStatistics.filesScanned.
std::int32_t WalkFolder(const char* pattern);

// Handles at most one pending window message; Escape asks whether to stop.
void PumpPendingMessage();

// Writes `source` into `destination` (of `destinationSize` bytes), shortened
// to `width` characters by replacing its middle with dots when it is longer.
void ShortenPath(const char* source, char* destination, std::size_t destinationSize, std::int16_t width);

// Forces a restart of the computer, with the shutdown privilege on NT.
void RestartComputer();
