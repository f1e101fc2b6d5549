#include "app/console/ConsoleText.h"

#include <cstring>

#include "scan/EscapedText.h"

namespace {

// Characters that stand for themselves in every shell.
bool PlainInEveryShell(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("_-./:@+,=", c) != nullptr);
}

}  // namespace

std::string ShownText(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    char escaped[kEscapedByteSize];
    for (char c : text) {
        if (!IsEscapedByte(static_cast<unsigned char>(c))) {
            shown += c;
            continue;
        }
        EscapeByte(static_cast<unsigned char>(c), escaped);
        shown += escaped;
    }
    return shown;
}

void PutLine(std::FILE* stream, const std::string& text)
{
    std::fputs((ShownText(text) + "\n").c_str(), stream);
}

void PutProgress(std::FILE* stream, const std::string& text)
{
    std::fputs(("\r" + ShownText(text) + "\033[K").c_str(), stream);
    std::fflush(stream);
}

void ClearProgressLine(std::FILE* stream)
{
    std::fputs("\r\033[K", stream);
    std::fflush(stream);
}

std::string PosixShellWord(const std::string& word)
{
    bool plain = !word.empty();
    for (char c : word) plain = plain && PlainInEveryShell(c);
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string WindowsShellWord(const std::string& word)
{
    bool plain = !word.empty();
    for (char c : word) plain = plain && (PlainInEveryShell(c) || c == '\\');
    return plain ? word : "\"" + word + "\"";
}
