// Services for real: the engine's StopService and DeleteServiceKeys over the
// real backend, against a Win32 service program (C:\tests\test_service.exe)
// that the setup hook registered with `sc create` and that the test starts.
// The service reports a pending stop for a moment before it stops, so the
// stop is seen only by a caller that polls. The hook also gave the service
// the keys Windows keeps for it in the first two control sets; the check
// hook looks at them again from the Linux side.
#include <windows.h>

#include <string>

#include "cleanup/ServiceCleanup.h"
#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kService[] = "QuellorTestSvc";
// Every key DeleteServiceKeys is to remove, subkeys first.
const char* const kServiceKeys[] = {
    "SYSTEM\\ControlSet001\\Services\\QuellorTestSvc\\Enum",
    "SYSTEM\\ControlSet001\\Services\\QuellorTestSvc\\Security",
    "SYSTEM\\ControlSet001\\Services\\QuellorTestSvc",
    "SYSTEM\\ControlSet002\\Services\\QuellorTestSvc\\Enum",
    "SYSTEM\\ControlSet002\\Services\\QuellorTestSvc\\Security",
    "SYSTEM\\ControlSet002\\Services\\QuellorTestSvc",
};
const DWORD kStartTimeout = 30000;
const DWORD kEndTimeout = 10000;

bool MachineKeyExists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

SERVICE_STATUS_PROCESS StatusOf(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status;
    ZeroMemory(&status, sizeof status);
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
    return status;
}

// Starts the service with plain Win32 calls and waits until it runs. The
// process running it, or null.
HANDLE StartTestService()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, kService, SERVICE_ALL_ACCESS) : nullptr;
    HANDLE process = nullptr;
    if (service && StartServiceA(service, 0, nullptr)) {
        SERVICE_STATUS_PROCESS status;
        WaitFor([&] { return (status = StatusOf(service)).dwCurrentState == SERVICE_RUNNING; }, kStartTimeout);
        if (status.dwCurrentState == SERVICE_RUNNING) process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
    } else {
        ReportFailure(__FILE__, __LINE__, "setup: cannot start " + std::string(kService) + ": error " +
                                              std::to_string(GetLastError()));
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return process;
}

DWORD CurrentState()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, kService, SERVICE_QUERY_STATUS) : nullptr;
    DWORD state = service ? StatusOf(service).dwCurrentState : 0;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return state;
}

}  // namespace

WINE_TEST(ARunningServiceIsStoppedAndItsKeysRemoved)
{
    UseRealPlatform();
    for (const char* key : kServiceKeys) {
        if (!MachineKeyExists(key)) ReportFailure(__FILE__, __LINE__, std::string("setup: no key ") + key);
    }
    HANDLE process = StartTestService();
    if (process == nullptr) {
        ReportFailure(__FILE__, __LINE__, "setup: the service did not come up running");
        return;
    }

    CHECK_EQ(1, StopService(kService));
    CHECK_EQ(static_cast<DWORD>(SERVICE_STOPPED), CurrentState());
    CHECK_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process, kEndTimeout));
    CloseHandle(process);

    CHECK_EQ(1, DeleteServiceKeys(kService));
    for (const char* key : kServiceKeys) {
        if (MachineKeyExists(key)) ReportFailure(__FILE__, __LINE__, std::string("still there: ") + key);
    }
}

WINE_TEST(AMissingServiceGivesZeroForBoth)
{
    UseRealPlatform();
    CHECK(!MachineKeyExists("SYSTEM\\ControlSet001\\Services\\QuellorNoSuchService"));
    CHECK_EQ(0, StopService("QuellorNoSuchService"));
    CHECK_EQ(0, DeleteServiceKeys("QuellorNoSuchService"));
}
