// The one rule by which names are escaped in text written for people.
#include "scan/EscapedText.h"

bool IsEscapedByte(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

void EscapeByte(unsigned char c, char* out)
{
    const char kDigits[] = "0123456789ABCDEF";
    out[0] = '<';
    out[1] = kDigits[c >> 4];
    out[2] = kDigits[c & 0x0F];
    out[3] = '>';
    out[4] = '\0';
}
