#include "scan/ScriptSignature.h"

bool scriptTableReady;

void DescrambleScriptTable()
{
    for (ScriptSignatureRecord& record : ScriptSignatureTable) {
        std::size_t length = record.patternLength;
        // A length beyond the field never reaches past it.
        if (length > kScriptPatternSize) length = kScriptPatternSize;
        for (std::size_t i = 0; i < length; ++i) record.pattern[i] ^= kScriptPatternKey;
    }
}
