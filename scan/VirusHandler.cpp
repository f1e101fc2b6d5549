#include "scan/VirusHandler.h"

const VirusHandler VirusHandlerTable[] = {
    {"W32/Bagle.Worm", ExamineBinaryFile},
    {"W32/Bagle.Worm", ExamineScriptFile},
    {nullptr, nullptr},
};

namespace {
const VirusHandler* activeTable = VirusHandlerTable;
}

const VirusHandler* ActiveHandlerTable()
{
    return activeTable;
}

void UseHandlerTable(const VirusHandler* table)
{
    activeTable = table ? table : VirusHandlerTable;
}
