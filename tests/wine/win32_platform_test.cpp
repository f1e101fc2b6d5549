// The parts of the Win32 backend that the shared contract cannot cover,
// because the fake models them with test switches rather than a live system:
// processes, services, privileges, windows and messages, the prompt hook,
// the run-time lookups, delete-at-restart, the security of a guarded folder
// and a hold that another process meets.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/Win32Platform.h"
#include "wine/harness/Harness.h"
#include "wine/support/FolderSecurity.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kProgramName[] = "win32_platform_test.exe";

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && Upper(text.substr(text.size() - tail.size())) == Upper(tail);
}

// ------------------------------------------------------------ window messages

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int count;
};
Received received;

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER && message < WM_USER + 0x100) {
        received.message = message;
        received.wParam = wParam;
        received.lParam = lParam;
        ++received.count;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeRecordingWindow()
{
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = RecordingProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuellorRecordingWindow";
    RegisterClassA(&windowClass);
    return CreateWindowA("QuellorRecordingWindow", "recorder", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// ------------------------------------------------------------ prompt hook

std::string promptText, promptCaption;
unsigned promptFlags = 0;

int AnswerYes(const char* text, const char* caption, unsigned flags)
{
    promptText = text;
    promptCaption = caption;
    promptFlags = flags;
    return kAnswerYes;
}

}  // namespace

WINE_TEST(VersionIsWhatTheSystemReports)
{
    Win32Platform platform;
    VersionInfo info;
    std::memset(&info, 0xFF, sizeof info);
    CHECK(platform.QueryVersion(info));
    const DWORD version = GetVersion();
    CHECK_EQ(static_cast<unsigned>(LOBYTE(LOWORD(version))), info.majorVersion);
    CHECK_EQ(static_cast<unsigned>(HIBYTE(LOWORD(version))), info.minorVersion);
    // The high bit of GetVersion is set on the 95/98/ME family only.
    CHECK_EQ((version & 0x80000000u) ? 1u : 2u, info.platformId);
}

WINE_TEST(ToolHelpSnapshotListsThisProcess)
{
    Win32Platform platform;
    SnapshotRef snapshot = platform.ProcessSnapshot();
    CHECK(snapshot != 0);
    if (snapshot == 0) return;
    bool foundSelf = false;
    int count = 0;
    ProcessEntry entry;
    for (bool more = platform.ProcessFirst(snapshot, entry); more && count < 10000;
         more = platform.ProcessNext(snapshot, entry)) {
        ++count;
        CHECK(std::memchr(entry.exeFile, '\0', sizeof entry.exeFile) != nullptr);
        if (entry.processId == GetCurrentProcessId()) {
            foundSelf = true;
            CHECK(EndsWith(entry.exeFile, kProgramName));
        }
    }
    platform.SnapshotClose(snapshot);
    CHECK(count > 1);
    CHECK(foundSelf);
}

WINE_TEST(PsapiListsThisProcessAndNamesItsImage)
{
    Win32Platform platform;
    std::uint32_t ids[1024];
    std::uint32_t bytes = 0;
    CHECK(platform.ListProcessIds(ids, sizeof ids, bytes));
    CHECK(bytes > 0 && bytes % 4 == 0 && bytes <= sizeof ids);
    bool foundSelf = false;
    for (std::uint32_t i = 0; i < bytes / 4; ++i) foundSelf = foundSelf || ids[i] == GetCurrentProcessId();
    CHECK(foundSelf);

    ProcessRef self = platform.OpenProcessById(kProcessQueryRead, GetCurrentProcessId());
    CHECK(self != 0);
    if (self == 0) return;
    char path[kPathBufferSize];
    std::uint32_t length = platform.ProcessImagePath(self, path, sizeof path);
    CHECK(length > 0);
    CHECK_EQ(static_cast<std::size_t>(length), std::strlen(path));
    CHECK(EndsWith(path, kProgramName));

    // A buffer too small for the name still ends within its size.
    char small[8];
    std::memset(small, '#', sizeof small);
    platform.ProcessImagePath(self, small, 6);
    CHECK(std::memchr(small, '\0', 6) != nullptr);
    CHECK_EQ('#', small[6]);
    platform.CloseProcess(self);
}

WINE_TEST(SuspendedChildIsOpenedAndTerminated)
{
    char program[MAX_PATH];
    CHECK(GetModuleFileNameA(nullptr, program, sizeof program) > 0);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    std::memset(&child, 0, sizeof child);
    std::string commandLine = std::string("\"") + program + "\" NoTestHasThisName";
    if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &child)) {
        ReportFailure(__FILE__, __LINE__, "CreateProcessA failed: " + std::to_string(GetLastError()));
        return;
    }

    Win32Platform platform;
    ProcessRef process = platform.OpenProcessById(kProcessTerminateQuery, child.dwProcessId);
    CHECK(process != 0);
    if (process != 0) {
        CHECK(platform.TerminateProcessRef(process, 77));
        platform.CloseProcess(process);
    }
    CHECK_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(child.hProcess, 10000));
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CHECK_EQ(77u, static_cast<unsigned>(exitCode));
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

WINE_TEST(ServiceManagerOpensKnownServicesOnly)
{
    Win32Platform platform;
    ServiceRef manager = platform.OpenServiceManager(kServiceAllAccess);
    CHECK(manager != 0);
    if (manager == 0) return;
    CHECK_EQ(0u, platform.OpenServiceByName(manager, "QuellorNoSuchService", kServiceAllAccess));
    CHECK_EQ(static_cast<std::uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST), platform.LastErrorCode());

    ServiceRef service = platform.OpenServiceByName(manager, "RpcSs", kServiceAllAccess);
    CHECK(service != 0);
    if (service != 0) {
        std::uint32_t state = 0;
        CHECK(platform.QueryServiceState(service, state));
        CHECK(state >= SERVICE_STOPPED && state <= SERVICE_PAUSED);
        platform.CloseServiceRef(service);
    }
    platform.CloseServiceRef(manager);
}

WINE_TEST(PrivilegesAreEnabledByName)
{
    Win32Platform platform;
    CHECK_EQ(static_cast<int>(PrivilegeEnabled), static_cast<int>(platform.EnablePrivilege("SeShutdownPrivilege")));
    CHECK_EQ(static_cast<int>(PrivilegeNotAdjusted),
             static_cast<int>(platform.EnablePrivilege("SeNoSuchQuellorPrivilege")));
}

WINE_TEST(DriveRootIsAVolumeMountPoint)
{
    // The call is looked up at run time; on a system that has it, the root
    // of a drive is the mount point of its volume.
    Win32Platform platform;
    const bool available =
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetVolumeNameForVolumeMountPointA") != nullptr;
    CHECK(available);
    CHECK_EQ(available, platform.IsVolumeMountPoint("C:"));
    std::string tooLong(kPathBufferSize, 'x');
    CHECK(!platform.IsVolumeMountPoint(tooLong.c_str()));
}

WINE_TEST(RemoveAtRebootRecordsThePendingDelete)
{
    Win32Platform platform;
    CHECK(WriteWholeFile("D:\\later.txt", ""));
    CHECK(platform.RemoveAtReboot("D:\\later.txt"));
    // Nothing happens before the restart.
    CHECK(PathPresent("D:\\later.txt"));

    // The NT family keeps the request in the session manager's list.
    HKEY key;
    CHECK_EQ(static_cast<LONG>(ERROR_SUCCESS),
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                           &key));
    char data[4096];
    std::memset(data, 0, sizeof data);
    DWORD size = sizeof data - 2;
    CHECK_EQ(static_cast<LONG>(ERROR_SUCCESS), RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                                                                reinterpret_cast<BYTE*>(data), &size));
    RegCloseKey(key);
    bool listed = false;
    for (const char* entry = data; *entry; entry += std::strlen(entry) + 1) {
        if (EndsWith(entry, "D:\\later.txt")) listed = true;
    }
    CHECK(listed);
}

WINE_TEST(TakenMessagesDispatchToTheirWindow)
{
    Win32Platform platform;
    HWND window = MakeRecordingWindow();
    CHECK(window != nullptr);
    if (window == nullptr) return;
    PendingMessage message;
    while (platform.TakePendingMessage(message)) platform.DispatchPending(message);

    std::memset(&received, 0, sizeof received);
    CHECK(PostMessageA(window, WM_USER + 1, 5, 6));
    bool taken = false;
    for (int guard = 0; guard < 100 && platform.TakePendingMessage(message); ++guard) {
        if (message.message != WM_USER + 1) continue;
        taken = true;
        CHECK_EQ(5u, static_cast<unsigned>(message.wParam));
        CHECK_EQ(6, static_cast<int>(message.lParam));
        CHECK_EQ(0, received.count);  // taking does not dispatch
        platform.DispatchPending(message);
        break;
    }
    CHECK(taken);
    CHECK_EQ(1, received.count);
    CHECK_EQ(static_cast<unsigned>(WM_USER + 1), received.message);
    CHECK_EQ(5u, static_cast<unsigned>(received.wParam));

    // NotifyWindow is synchronous: the procedure has run when it returns.
    platform.NotifyWindow(reinterpret_cast<WindowRef>(window), WM_USER + 2);
    CHECK_EQ(2, received.count);
    CHECK_EQ(static_cast<unsigned>(WM_USER + 2), received.message);
    CHECK_EQ(0u, static_cast<unsigned>(received.wParam));
    DestroyWindow(window);
}

WINE_TEST(PromptGoesToTheInstalledHandler)
{
    Win32Platform platform;
    Win32Platform::SetPromptHandler(AnswerYes);
    CHECK_EQ(kAnswerYes, platform.Prompt("Remove it?", "Quellor", kPromptYesNoQuestion));
    Win32Platform::SetPromptHandler(nullptr);
    CHECK_STREQ("Remove it?", promptText);
    CHECK_STREQ("Quellor", promptCaption);
    CHECK_EQ(kPromptYesNoQuestion, promptFlags);
}

WINE_TEST(WaitSleeps)
{
    Win32Platform platform;
    const DWORD start = GetTickCount();
    platform.Wait(50);
    // The tick count is coarse (10 to 16 ms steps).
    CHECK(GetTickCount() - start >= 30);
}

WINE_TEST(TheGuardsDescriptorIsAdministratorsAndTheSystemsAlone)
{
    // What the backend hands the system for a guarded folder, built with
    // the system's own security calls.
    std::vector<unsigned char> descriptor = GuardedFolderDescriptorForTesting();
    CHECK(!descriptor.empty());
    if (!descriptor.empty()) CHECK_STREQ(GuardedSecurity(true, false), DescribeDescriptor(descriptor.data()));
}

WINE_TEST(AGuardedFolderAllowsNothingToAnyoneElseWhoeverMadeIt)
{
    // Wine keeps no access list of its own: it shows one made from the
    // Unix mode (the owner, the system, and Everyone for what others may
    // do), so what it can show is that nobody else is let in.
    Win32Platform platform;
    CHECK(platform.MakeGuardedFolder("D:\\guarded"));
    CHECK_STREQ("", OthersAllowed("D:\\guarded"));
    // (Wine gives a file made in it no inherited entries but its own mode;
    // the folder's keeps others from reaching it.)
    CHECK(WriteWholeFile("D:\\guarded\\kept.bin", "k"));
    // Made before with what its parent gives (Everyone may read it here):
    // taken over.
    CHECK(CreateDirectoryA("D:\\open", nullptr));
    CHECK(!OthersAllowed("D:\\open").empty());
    CHECK(platform.MakeGuardedFolder("D:\\open"));
    CHECK_STREQ("", OthersAllowed("D:\\open"));
    // A file of that name is no folder.
    CHECK(WriteWholeFile("D:\\plain.txt", "p"));
    CHECK(!platform.MakeGuardedFolder("D:\\plain.txt"));
}

