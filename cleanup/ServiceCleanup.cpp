#include "cleanup/ServiceCleanup.h"

#include <cstring>

#include "platform/Platform.h"
#include "scan/BoundedText.h"

namespace {

const std::uint32_t kServiceStopped = 1;      // SERVICE_STOPPED
const std::uint32_t kServiceStopPending = 3;  // SERVICE_STOP_PENDING

const std::size_t kServiceKeySize = 512;

struct ServiceKey {
    const char* prefix;
    const char* suffix;
};

// Subkeys go before the service's own key, which the platform will not
// delete while it has any. The second set's Enum key is named in upper case.
const ServiceKey kServiceKeys[] = {
    {"SYSTEM\\ControlSet001\\Services\\", "\\Enum"},
    {"SYSTEM\\ControlSet001\\Services\\", "\\Security"},
    {"SYSTEM\\ControlSet001\\Services\\", ""},
    {"SYSTEM\\CONTROLSET002\\SERVICES\\", "\\Enum"},
    {"SYSTEM\\ControlSet002\\Services\\", "\\Security"},
    {"SYSTEM\\ControlSet002\\Services\\", ""},
};

// Polls while the stop is pending; true when the last state seen is
// "stopped".
bool WaitUntilStopped(ServiceRef service)
{
    std::uint32_t state = 0;
    if (!Sys().QueryServiceState(service, state)) return false;
    for (std::uint32_t polls = 0; state == kServiceStopPending && polls < kServiceStopPolls; ++polls) {
        Sys().Wait(kServicePollMs);
        std::uint32_t next = 0;
        if (!Sys().QueryServiceState(service, next)) break;
        state = next;
    }
    return state == kServiceStopped;
}

}  // namespace

std::int32_t StopService(const char* name)
{
    ServiceRef manager = Sys().OpenServiceManager(kServiceAllAccess);
    if (!manager) return 0;
    ServiceRef service = Sys().OpenServiceByName(manager, name, kServiceAllAccess);
    if (!service) {
        Sys().CloseServiceRef(manager);
        return 0;
    }
    std::int32_t result = 0;
    if (Sys().RequestServiceStop(service) && WaitUntilStopped(service)) result = 1;
    Sys().CloseServiceRef(service);
    Sys().CloseServiceRef(manager);
    return result;
}

std::int32_t DeleteServiceKeys(const char* name)
{
    // Without a name the keys would be the Services key itself.
    if (name == nullptr || name[0] == '\0') return 0;
    std::int32_t result = 0;
    for (const ServiceKey& key : kServiceKeys) {
        char keyName[kServiceKeySize];
        std::memset(keyName, 0, sizeof keyName);
        // A name cut to the buffer would be another key's: it is left alone.
        if (!CopyText(keyName, sizeof keyName, key.prefix) || !AppendText(keyName, sizeof keyName, name) ||
            !AppendText(keyName, sizeof keyName, key.suffix)) {
            continue;
        }
        if (DeleteMachineKey(keyName)) result = 1;
    }
    return result;
}

std::int32_t DeleteMachineKey(const char* keyName)
{
    return Sys().RegistryDeleteKey(kKeyLocalMachine, keyName) == kRegistryOk ? 1 : 0;
}
