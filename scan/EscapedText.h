// Text the program writes for a person to read (the console's lines, the
// run log) holds names it did not choose: of files on a disk another
// person made, of registry values, of quarantine entries. A name may hold
// any byte, so every such text is escaped where it leaves the program: a
// control byte never reaches a terminal or the log as itself, and no name
// can end a line, start one, or steer the terminal.
//
// The form: each byte below 0x20 but the tab, and DEL (0x7F), is written as
// "<XX>", its value in two upper-case hexadecimal digits (a line break in a
// name reads "<0D><0A>", an escape character "<1B>"). Windows names cannot
// hold '<' or '>', so on Windows the form is never ambiguous; every other
// byte, the tab among them (the statistics lines hold tabs), is written as
// it is, so a line whose names hold no control byte is the same byte for
// byte.
#pragma once

#include <cstddef>

// Bytes an escaped byte takes ("<XX>"), and the room it needs with a
// terminator.
const std::size_t kEscapedByteLength = 4;
const std::size_t kEscapedByteSize = kEscapedByteLength + 1;

// True when `c` is written escaped.
bool IsEscapedByte(unsigned char c);

// Writes the escaped form of `c` ("<XX>") and its terminator to `out`,
// which holds kEscapedByteSize bytes.
void EscapeByte(unsigned char c, char* out);
