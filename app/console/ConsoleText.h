// What quellor-scan writes for people to read. Every line it prints, on
// standard output and standard error, goes through PutLine, and the
// progress line through PutProgress: the one place where the names in them
// (of files, folders, registry hives, quarantine entries, all of which may
// hold any byte) are escaped (scan/EscapedText.h). A name can end no line,
// start no line and send the terminal no command; a line without control
// bytes is printed byte for byte. JSON lines come here too: their strings
// hold no control byte, so they pass unchanged.
//
// And the words of command lines the program prints for the user to run.
#pragma once

#include <cstdio>
#include <string>

// `text` as it is shown: its control bytes escaped.
std::string ShownText(const std::string& text);

// Prints `text`, escaped, and a line end.
void PutLine(std::FILE* stream, const std::string& text);
// Shows `text`, escaped, as the progress line: from the line's start,
// clearing what an earlier progress line left; flushed.
void PutProgress(std::FILE* stream, const std::string& text);
// Clears the progress line.
void ClearProgressLine(std::FILE* stream);

// `word` as one word of a POSIX shell's command line: as it is when it
// holds only characters no shell reads specially, else in single quotes.
std::string PosixShellWord(const std::string& word);
// `word` as one word of a Windows command line: in double quotes when it
// holds a space or a character the command interpreter reads specially
// (a Windows path holds no double quote).
std::string WindowsShellWord(const std::string& word);
