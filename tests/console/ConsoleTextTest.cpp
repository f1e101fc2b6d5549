// What quellor-scan writes for people: control bytes escaped where a line
// leaves the program, and words of the command lines it prints that a
// shell reads back as the text they stand for.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/console/ConsoleText.h"
#include "console/ScannerRun.h"

namespace {

std::string Written(void (*put)(std::FILE*, const std::string&), const std::string& text)
{
    std::FILE* stream = std::tmpfile();
    if (!stream) {
        ADD_FAILURE() << "no temporary file";
        return std::string();
    }
    put(stream, text);
    std::string written(4096, '\0');
    std::rewind(stream);
    written.resize(std::fread(&written[0], 1, written.size(), stream));
    std::fclose(stream);
    return written;
}

TEST(ConsoleText, ControlBytesAreEscapedAndEveryOtherByteIsKept)
{
    struct Row {
        const char* name;
        std::string text;
        std::string shown;
    } const rows[] = {
        {"a plain line", "C:\\Downloads\\setup.exe     W32/Murkel.A.Trojan removed",
         "C:\\Downloads\\setup.exe     W32/Murkel.A.Trojan removed"},
        {"tabs of the statistics", "Total files scanned\t\t:  3", "Total files scanned\t\t:  3"},
        {"line breaks", "a\r\nb\nc\rd", "a<0D><0A>b<0A>c<0D>d"},
        {"escape sequences", "\x1b[2J\x1b]0;title\x07", "<1B>[2J<1B>]0;title<07>"},
        {"the ends of the range", std::string("\x01\x1f\x7f", 3), "<01><1F><7F>"},
        {"bytes of other code pages", "caf\xc3\xa9 \xe9t\xe9 \x9b", "caf\xc3\xa9 \xe9t\xe9 \x9b"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.shown, ShownText(row.text));
        EXPECT_EQ(row.shown + "\n", Written(PutLine, row.text));
    }
    // The progress line's own controls stay; the name's do not.
    EXPECT_EQ("\r12 files  C:\\x<1B>[2Jy\033[K", Written(PutProgress, "12 files  C:\\x\x1b[2Jy"));
}

TEST(ConsoleText, CommandWordsAreQuotedOnlyWhereAShellNeedsIt)
{
    struct Row {
        const char* word;
        const char* posix;
        const char* windows;
    } const rows[] = {
        {"/media/usb/quellor", "/media/usb/quellor", "/media/usb/quellor"},
        {"D:\\store", "'D:\\store'", "D:\\store"},
        {"D:\\My Store", "'D:\\My Store'", "\"D:\\My Store\""},
        {"/tmp/the store's place", "'/tmp/the store'\\''s place'", "\"/tmp/the store's place\""},
        {"/tmp/a&b(c)", "'/tmp/a&b(c)'", "\"/tmp/a&b(c)\""},
        {"", "''", "\"\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.word);
        EXPECT_EQ(row.posix, PosixShellWord(row.word));
        EXPECT_EQ(row.windows, WindowsShellWord(row.word));
    }
}

// The POSIX shell itself reads each word back as the text it stands for.
TEST(ConsoleText, APosixShellReadsTheWordBackAsTheText)
{
    const char* const words[] = {
        "/tmp/plain", "/tmp/with space", "/tmp/it's", "/tmp/$HOME `id` $(id) \"q\" \\ * ? ~ ! # ; | < > { }",
        "/tmp/''", "/tmp/new\nline",
    };
    for (const char* word : words) {
        SCOPED_TRACE(word);
        StartedProgram shell = StartProgram("/bin/sh", {"-c", "printf %s " + PosixShellWord(word)});
        const Outcome outcome = FinishProgram(shell);
        EXPECT_EQ(0, outcome.status) << outcome.err;
        EXPECT_EQ(word, outcome.out);
    }
}

}  // namespace
