// Directory enumeration: the entries of a folder pattern, with their names
// in the ANSI code page as the platform interface promises them.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include "platform/AnsiText.h"
#include "platform/win32/Win32Internal.h"

using win32detail::KernelFunction;

namespace {

void CopyFindData(const WIN32_FIND_DATAA& data, DirEntry& entry)
{
    CopyText(entry.name, sizeof entry.name, data.cFileName);
    CopyText(entry.shortName, sizeof entry.shortName, data.cAlternateFileName);
    entry.attributes = data.dwFileAttributes;
    entry.reparseTag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
}

// FindFirstFileA gives a name the ANSI code page cannot spell in that code
// page's look-alikes where it has them, and '?' only where it has none: an
// A with macron (U+0100) followed by "pple.exe" comes back as "Apple.exe",
// which may be another file in the same folder, and a folder named with two
// fullwidth full stops as "..", which the walk takes for the parent. So on the NT family the names are
// asked for in Unicode, and every character the code page does not give
// back unchanged becomes '?': such a name opens nothing, and the entry is
// reached through its short name. On 95/98/ME names are ANSI on the disk.
typedef HANDLE(WINAPI* FindFirstWideFn)(LPCWSTR pattern, WIN32_FIND_DATAW* data);
typedef BOOL(WINAPI* FindNextWideFn)(HANDLE search, WIN32_FIND_DATAW* data);

struct WideFind {
    bool lookedUp;
    FindFirstWideFn first;  // null on 95/98/ME
    FindNextWideFn next;
};
WideFind wideFind = {false, nullptr, nullptr};

const WideFind& WideFindCalls()
{
    if (wideFind.lookedUp) return wideFind;
    wideFind.lookedUp = true;
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return wideFind;
    wideFind.first = KernelFunction<FindFirstWideFn>("FindFirstFileW");
    wideFind.next = KernelFunction<FindNextWideFn>("FindNextFileW");
    if (wideFind.first == nullptr || wideFind.next == nullptr) {
        wideFind.first = nullptr;
        wideFind.next = nullptr;
    }
    return wideFind;
}

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Whether `count` characters of `wide` come back unchanged from the code
// page; their ANSI form in `bytes` (room for `size`), its length in `length`.
bool SpellsExactly(const WCHAR* wide, int count, char* bytes, int size, int& length)
{
    length = WideCharToMultiByte(CP_ACP, 0, wide, count, bytes, size, nullptr, nullptr);
    WCHAR back[MAX_PATH];
    int backLength = length > 0 ? MultiByteToWideChar(CP_ACP, 0, bytes, length, back, MAX_PATH) : 0;
    return backLength == count && std::memcmp(back, wide, static_cast<std::size_t>(count) * sizeof(WCHAR)) == 0;
}

// The ANSI form of `wide`, with '?' for each character (or surrogate pair)
// that the code page does not spell exactly; cut to fit `size`.
void CopyExactAnsi(char* out, std::size_t size, const WCHAR* wide)
{
    if (size == 0) return;
    out[0] = '\0';
    int whole = 0;
    char bytes[MAX_PATH * 2 + 1];
    const int room = MAX_PATH * 2;  // one byte is left for the terminator
    int count = 0;
    while (count < MAX_PATH && wide[count] != 0) ++count;
    if (SpellsExactly(wide, count, bytes, room, whole)) {
        bytes[whole] = '\0';
        CopyText(out, size, bytes);
        return;
    }
    std::size_t used = 0;
    for (int i = 0; i < count;) {
        const int units = (IsHighSurrogate(wide[i]) && IsLowSurrogate(wide[i + 1])) ? 2 : 1;
        int length = 0;
        if (!SpellsExactly(wide + i, units, bytes, room, length)) {
            bytes[0] = '?';
            length = 1;
        }
        const std::size_t bytesLength = static_cast<std::size_t>(length);
        if (used + bytesLength >= size) break;
        std::memcpy(out + used, bytes, bytesLength);
        used += bytesLength;
        i += units;
    }
    out[used] = '\0';
}

void CopyFindData(const WIN32_FIND_DATAW& data, DirEntry& entry)
{
    CopyExactAnsi(entry.name, sizeof entry.name, data.cFileName);
    CopyExactAnsi(entry.shortName, sizeof entry.shortName, data.cAlternateFileName);
    entry.attributes = data.dwFileAttributes;
    entry.reparseTag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
}

// One enumeration step in either character set: the entry it found, or
// nothing.
template <typename FindData, typename Text, typename First>
SearchRef StartSearch(First first, const Text* pattern, DirEntry& entry)
{
    FindData data;
    ZeroMemory(&data, sizeof data);
    HANDLE search = first(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    CopyFindData(data, entry);
    return reinterpret_cast<SearchRef>(search);
}

template <typename FindData, typename Next>
bool ContinueSearch(Next next, SearchRef search, DirEntry& entry)
{
    FindData data;
    ZeroMemory(&data, sizeof data);
    if (!next(reinterpret_cast<HANDLE>(search), &data)) return false;
    CopyFindData(data, entry);
    return true;
}

}  // namespace

SearchRef Win32Platform::FindFirstEntry(const char* pattern, DirEntry& entry)
{
    const FindFirstWideFn first = WideFindCalls().first;
    if (first == nullptr) return StartSearch<WIN32_FIND_DATAA>(FindFirstFileA, pattern, entry);
    WCHAR widePattern[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, pattern, -1, widePattern, MAX_PATH) == 0) return 0;
    return StartSearch<WIN32_FIND_DATAW>(first, widePattern, entry);
}

bool Win32Platform::FindNextEntry(SearchRef search, DirEntry& entry)
{
    const FindNextWideFn next = WideFindCalls().next;
    if (next == nullptr) return ContinueSearch<WIN32_FIND_DATAA>(FindNextFileA, search, entry);
    return ContinueSearch<WIN32_FIND_DATAW>(next, search, entry);
}

void Win32Platform::FindEnd(SearchRef search)
{
    FindClose(reinterpret_cast<HANDLE>(search));
}
