// Stopping a service and removing its keys: the NT memory scan's way with an
// infected process it could not terminate.
#pragma once

#include <cstdint>

// Asks the service manager to stop the service `name` and waits, one poll a
// second and at most kServiceStopPolls polls, while it reports a pending
// stop. 1 when the stop was accepted and the service was then found
// stopped, else 0.
std::int32_t StopService(const char* name);

// Deletes the service's keys in the first two control sets, each subkey
// before its service key, going on after any failure. 1 when at least one
// deletion succeeded. An empty name deletes nothing.
std::int32_t DeleteServiceKeys(const char* name);

// Deletes one key under HKEY_LOCAL_MACHINE (not recursively). 1 on success.
std::int32_t DeleteMachineKey(const char* keyName);

const std::uint32_t kServiceStopPolls = 30;
const std::uint32_t kServicePollMs = 1000;
