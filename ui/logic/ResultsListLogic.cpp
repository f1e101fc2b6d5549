#include "ui/logic/ResultsListLogic.h"

namespace {
const int kWideLine = 560;
}

bool ResultsListNeedsClearing(int lineCount, bool statisticsPhase)
{
    return lineCount >= kResultsListLimit && !statisticsPhase;
}

int ResultsListTopLine(int lineCount)
{
    return lineCount > 2 ? lineCount - 1 : -1;
}

int ResultsListExtent(int currentExtent, int widestLine)
{
    if (currentExtent < widestLine && widestLine > kWideLine) return 3 * widestLine / 4;
    return currentExtent;
}
