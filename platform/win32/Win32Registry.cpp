// Registry: the RegXxxA calls with the platform's result codes passed
// through. A KeyRef is the HKEY itself; the predefined keys have the same
// values in both.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include "platform/win32/Win32Internal.h"

namespace {

static_assert(sizeof(DWORD) == sizeof(std::uint32_t), "DWORD is 32 bits");

HKEY Hkey(KeyRef key)
{
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

long Win32Platform::RegistryOpen(KeyRef parent, const char* subkey, std::uint32_t access, KeyRef& key)
{
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(Hkey(parent), subkey, 0, access, &opened);
    key = (result == ERROR_SUCCESS) ? reinterpret_cast<KeyRef>(opened) : 0;
    return result;
}

long Win32Platform::RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                                       std::uint32_t* size)
{
    DWORD valueType = 0;
    DWORD dataSize = size ? *size : 0;
    LONG result = RegQueryValueExA(Hkey(key), name, nullptr, type ? &valueType : nullptr,
                                   static_cast<BYTE*>(data), size ? &dataSize : nullptr);
    if (type) *type = valueType;
    if (size) *size = dataSize;
    return result;
}

long Win32Platform::RegistryValueCount(KeyRef key, std::uint32_t& count)
{
    DWORD values = 0;
    LONG result = RegQueryInfoKeyA(Hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                   nullptr, nullptr, nullptr, nullptr);
    count = (result == ERROR_SUCCESS) ? values : 0;
    return result;
}

long Win32Platform::RegistryEnumValue(KeyRef key, std::uint32_t index, char* name, std::uint32_t& nameLength)
{
    const DWORD capacity = nameLength;
    DWORD length = capacity;
    win32detail::TerminateWithin(name, capacity, 0);
    LONG result = RegEnumValueA(Hkey(key), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    // On success the name is terminated within the buffer; otherwise what the
    // call left there is cut to the buffer.
    if (result != ERROR_SUCCESS) win32detail::TerminateWithin(name, capacity, capacity);
    nameLength = length;
    return result;
}

long Win32Platform::RegistryDeleteValue(KeyRef key, const char* name)
{
    return RegDeleteValueA(Hkey(key), name);
}

long Win32Platform::RegistryDeleteKey(KeyRef parent, const char* subkey)
{
    return RegDeleteKeyA(Hkey(parent), subkey);
}

void Win32Platform::RegistryClose(KeyRef key)
{
    RegCloseKey(Hkey(key));
}

std::uint32_t Win32Platform::RegistryUserCount()
{
    return 1;
}

bool Win32Platform::SelectRegistryUser(std::uint32_t index)
{
    return index == 0;
}

bool Win32Platform::RegistryHasTwoViews()
{
    return RunsUnderWow64();
}
