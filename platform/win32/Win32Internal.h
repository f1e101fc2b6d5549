// Small helpers shared by the Win32 backend's source files. Included only
// by platform/win32/*.cpp, after <windows.h>.
#pragma once

#include <cstddef>
#include <cstring>

namespace win32detail {

// Copies `text` into `out` (capacity `size` bytes), cutting it to fit and
// always terminating when the capacity is nonzero.
inline void CopyBounded(char* out, std::size_t size, const char* text)
{
    if (out == nullptr || size == 0) return;
    std::size_t length = 0;
    while (length + 1 < size && text[length] != '\0') ++length;
    std::memcpy(out, text, length);
    out[length] = '\0';
}

// Makes sure a caller's buffer that a Win32 call may have filled without a
// terminator (or left untouched on failure) ends within its capacity.
// `written` is the number of characters the call reports having stored
// (no terminator counted).
inline void TerminateWithin(char* out, std::size_t size, std::size_t written)
{
    if (out == nullptr || size == 0) return;
    out[written < size ? written : size - 1] = '\0';
}

// A kernel32 function looked up at run time (one the oldest systems lack,
// or one the program does not import); null when it is missing.
template <typename Function>
Function KernelFunction(const char* name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

}  // namespace win32detail
