// Rules of the results list, free of any window.
#pragma once

// The list is emptied when it holds this many lines and another arrives
// during the walk; the statistics block is never cleared away.
const int kResultsListLimit = 150;

bool ResultsListNeedsClearing(int lineCount, bool statisticsPhase);

// The line to make the top line after a line was appended so the newest is
// in view: line c - 1 for c > 2 lines, -1 (no scrolling) otherwise.
int ResultsListTopLine(int lineCount);

// The horizontal extent after measuring the widest line: 3w / 4 when the
// current extent is smaller than w and w is over 560 pixels, else unchanged.
int ResultsListExtent(int currentExtent, int widestLine);
