// The ordered table of examinations every file of the walk is offered to.
#pragma once

#include <cstdint>

struct VirusHandler {
    const char* label;  // passed to examine; a null label ends the table
    // Examines one file; nonzero means the file is dealt with and no later
    // entry is asked.
    std::int32_t (*examine)(const char* label, const char* path);
};

extern const VirusHandler VirusHandlerTable[];

// The table the walk uses: VirusHandlerTable unless a test put another in
// its place. Passing null restores VirusHandlerTable.
const VirusHandler* ActiveHandlerTable();
void UseHandlerTable(const VirusHandler* table);

// The two examinations of the table.
std::int32_t ExamineBinaryFile(const char* label, const char* path);
std::int32_t ExamineScriptFile(const char* label, const char* path);
