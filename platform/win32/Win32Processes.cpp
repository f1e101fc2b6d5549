// Processes, services, privileges, restart and the end of the program.
// Tool Help (kernel32, absent on NT 4.0) and psapi (absent on 95/98/ME) are
// reached through GetProcAddress only.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <new>

#include "platform/AnsiText.h"
#include "platform/win32/Win32Internal.h"

using win32detail::LookUpFunction;

namespace {

// Tool Help's structure and entry points, declared here so nothing depends
// on how the SDK headers guard them.
struct ToolHelpProcessEntry {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    CHAR szExeFile[MAX_PATH];
};
// The size field names the caller's layout: 296 bytes in a 32-bit program,
// 304 in a 64-bit one, whose heap identifier is pointer-sized and aligned.
#ifdef _WIN64
const DWORD kProcessEntrySize = 304;
#else
const DWORD kProcessEntrySize = 296;
#endif
static_assert(sizeof(ToolHelpProcessEntry) == kProcessEntrySize, "PROCESSENTRY32 has the system's layout");
const DWORD kSnapProcesses = 0x00000002;  // TH32CS_SNAPPROCESS

typedef HANDLE(WINAPI* CreateSnapshotFn)(DWORD flags, DWORD processId);
typedef BOOL(WINAPI* ProcessWalkFn)(HANDLE snapshot, ToolHelpProcessEntry* entry);
typedef BOOL(WINAPI* EnumProcessesFn)(DWORD* ids, DWORD capacityBytes, DWORD* bytesReturned);
typedef DWORD(WINAPI* ModuleFileNameExFn)(HANDLE process, HMODULE module, LPSTR name, DWORD size);
// Windows Vista and later, in kernel32.
typedef BOOL(WINAPI* FullImageNameFn)(HANDLE process, DWORD flags, LPSTR name, DWORD* size);

// What a SnapshotRef points at: the library that holds Tool Help, kept
// loaded while the snapshot is open, and the snapshot handle.
struct ToolHelpSnapshot {
    HMODULE kernel;
    HANDLE snapshot;
};

ToolHelpSnapshot* SnapshotOf(SnapshotRef snapshot)
{
    return reinterpret_cast<ToolHelpSnapshot*>(snapshot);
}

bool Walk(SnapshotRef snapshot, const char* function, ProcessEntry& entry)
{
    ToolHelpSnapshot* state = SnapshotOf(snapshot);
    if (state == nullptr) return false;
    ProcessWalkFn walk = LookUpFunction<ProcessWalkFn>(state->kernel, function);
    if (walk == nullptr) return false;
    ToolHelpProcessEntry process;
    ZeroMemory(&process, sizeof process);
    process.dwSize = kProcessEntrySize;
    if (!walk(state->snapshot, &process)) return false;
    entry.processId = process.th32ProcessID;
    process.szExeFile[MAX_PATH - 1] = '\0';
    CopyText(entry.exeFile, sizeof entry.exeFile, process.szExeFile);
    return true;
}

HANDLE ProcessHandle(ProcessRef process)
{
    return reinterpret_cast<HANDLE>(process);
}

SC_HANDLE ServiceHandle(ServiceRef service)
{
    return reinterpret_cast<SC_HANDLE>(service);
}

}  // namespace

SnapshotRef Win32Platform::ProcessSnapshot()
{
    HMODULE kernel = LoadLibraryA("Kernel32.dll");
    if (kernel == nullptr) return 0;
    CreateSnapshotFn create = LookUpFunction<CreateSnapshotFn>(kernel, "CreateToolhelp32Snapshot");
    if (create == nullptr || LookUpFunction<ProcessWalkFn>(kernel, "Process32First") == nullptr) {
        FreeLibrary(kernel);
        return 0;
    }
    HANDLE snapshot = create(kSnapProcesses, 0);
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr) {
        FreeLibrary(kernel);
        return 0;
    }
    ToolHelpSnapshot* state = new (std::nothrow) ToolHelpSnapshot;
    if (state == nullptr) {
        CloseHandle(snapshot);
        FreeLibrary(kernel);
        return 0;
    }
    state->kernel = kernel;
    state->snapshot = snapshot;
    return reinterpret_cast<SnapshotRef>(state);
}

bool Win32Platform::ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry)
{
    return Walk(snapshot, "Process32First", entry);
}

bool Win32Platform::ProcessNext(SnapshotRef snapshot, ProcessEntry& entry)
{
    return Walk(snapshot, "Process32Next", entry);
}

void Win32Platform::SnapshotClose(SnapshotRef snapshot)
{
    ToolHelpSnapshot* state = SnapshotOf(snapshot);
    if (state == nullptr) return;
    CloseHandle(state->snapshot);
    FreeLibrary(state->kernel);
    delete state;
}

bool Win32Platform::ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned)
{
    static_assert(sizeof(DWORD) == sizeof(std::uint32_t), "process ids are 32 bits");
    bytesReturned = 0;
    HMODULE psapi = static_cast<HMODULE>(Psapi());
    if (psapi == nullptr) return false;
    EnumProcessesFn enumProcesses = LookUpFunction<EnumProcessesFn>(psapi, "EnumProcesses");
    if (enumProcesses == nullptr) return false;
    DWORD returned = 0;
    if (!enumProcesses(reinterpret_cast<DWORD*>(ids), capacityBytes, &returned)) return false;
    bytesReturned = returned;
    return true;
}

std::uint32_t Win32Platform::ProcessImagePath(ProcessRef process, char* out, std::uint32_t size)
{
    win32detail::TerminateWithin(out, size, 0);
    HMODULE psapi = static_cast<HMODULE>(Psapi());
    if (psapi == nullptr) return 0;
    ModuleFileNameExFn moduleFileName = LookUpFunction<ModuleFileNameExFn>(psapi, "GetModuleFileNameExA");
    if (moduleFileName == nullptr) return 0;
    DWORD length = moduleFileName(ProcessHandle(process), nullptr, out, size);
    // A name cut to the buffer may come back without its terminator.
    win32detail::TerminateWithin(out, size, length);
    return length;
}

std::uint32_t Win32Platform::ProcessImageName(ProcessRef process, char* out, std::uint32_t size)
{
    win32detail::TerminateWithin(out, size, 0);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr || size == 0) return 0;
    FullImageNameFn fullImageName = LookUpFunction<FullImageNameFn>(kernel, "QueryFullProcessImageNameA");
    if (fullImageName == nullptr) return 0;
    DWORD length = size;  // in: the capacity; out: the length without terminator
    if (!fullImageName(ProcessHandle(process), 0, out, &length)) return 0;
    win32detail::TerminateWithin(out, size, length);
    return length;
}

ProcessRef Win32Platform::OpenProcessById(std::uint32_t access, std::uint32_t processId)
{
    return reinterpret_cast<ProcessRef>(OpenProcess(access, FALSE, processId));
}

bool Win32Platform::TerminateProcessRef(ProcessRef process, std::uint32_t exitCode)
{
    return TerminateProcess(ProcessHandle(process), exitCode) != FALSE;
}

void Win32Platform::CloseProcess(ProcessRef process)
{
    CloseHandle(ProcessHandle(process));
}

std::uint32_t Win32Platform::LastErrorCode()
{
    return GetLastError();
}

int Win32Platform::WideToAnsi(const std::uint16_t* text, int length, char* out, int size)
{
    static_assert(sizeof(WCHAR) == sizeof(std::uint16_t), "WCHAR is 16 bits");
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(text), length, out, size, nullptr, nullptr);
}

ServiceRef Win32Platform::OpenServiceManager(std::uint32_t access)
{
    return reinterpret_cast<ServiceRef>(OpenSCManagerA(nullptr, nullptr, access));
}

ServiceRef Win32Platform::OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access)
{
    return reinterpret_cast<ServiceRef>(OpenServiceA(ServiceHandle(manager), name, access));
}

bool Win32Platform::RequestServiceStop(ServiceRef service)
{
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    return ControlService(ServiceHandle(service), SERVICE_CONTROL_STOP, &status) != FALSE;
}

bool Win32Platform::QueryServiceState(ServiceRef service, std::uint32_t& state)
{
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    if (!QueryServiceStatus(ServiceHandle(service), &status)) return false;
    state = status.dwCurrentState;
    return true;
}

void Win32Platform::CloseServiceRef(ServiceRef handle)
{
    CloseServiceHandle(ServiceHandle(handle));
}

PrivilegeResult Win32Platform::EnablePrivilege(const char* privilegeName)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return PrivilegeTokenUnavailable;

    PrivilegeResult result = PrivilegeNotAdjusted;
    TOKEN_PRIVILEGES privileges;
    ZeroMemory(&privileges, sizeof privileges);
    if (LookupPrivilegeValueA(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // AdjustTokenPrivileges succeeds even when it assigned nothing; the
        // last error tells (ERROR_NOT_ALL_ASSIGNED).
        BOOL adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        if (adjusted && GetLastError() == 0) result = PrivilegeEnabled;
    }
    CloseHandle(token);
    return result;
}

bool Win32Platform::RequestReboot(std::uint32_t flags)
{
    return ExitWindowsEx(flags, 0) != FALSE;
}

void Win32Platform::EndProgram(int exitCode)
{
    ExitProcess(static_cast<UINT>(exitCode));
}
