// A Win32 service for the Wine tests, and nothing more: it reports itself
// running, and when the service manager asks it to stop it reports a
// pending stop for a moment, as a real service winding down does, and then
// that it has stopped. It also stops by itself after a while, so that a
// test that fails to stop it leaves nothing running for long.
#include <windows.h>

namespace {

const DWORD kLifetimeMs = 280000;
// Long enough that whoever stopped the service sees the pending state and
// polls again at least once.
const DWORD kWindDownMs = 1500;

char serviceName[] = "QuellorTestService";  // ignored for a service of its own process
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;

void Report(DWORD state, DWORD waitHint)
{
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = state == SERVICE_STOP_PENDING ? 1 : 0;
    status.dwWaitHint = waitHint;
    SetServiceStatus(statusHandle, &status);
}

void WINAPI Control(DWORD control)
{
    if (control != SERVICE_CONTROL_STOP) return;
    Report(SERVICE_STOP_PENDING, kWindDownMs * 2);
    SetEvent(stopRequested);
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    statusHandle = RegisterServiceCtrlHandlerA(serviceName, Control);
    if (statusHandle == nullptr) return;
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING, 0);
    if (WaitForSingleObject(stopRequested, kLifetimeMs) == WAIT_OBJECT_0) Sleep(kWindDownMs);
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SERVICE_TABLE_ENTRYA services[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(services) ? 0 : 1;
}
