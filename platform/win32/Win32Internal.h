// Small helpers shared by the Win32 backend's source files. Included only
// by platform/win32/*.cpp, after <windows.h>.
#pragma once

#include <cstddef>
#include <cstring>

namespace win32detail {

// A function of a loaded module, looked up by name at run time: the calls
// that not every supported Windows has are never imported. Null when the
// module or the function is missing.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name)
{
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
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
    return LookUpFunction<Function>(GetModuleHandleA("kernel32.dll"), name);
}

}  // namespace win32detail
