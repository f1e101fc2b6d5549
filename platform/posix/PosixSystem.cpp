// The parts of the platform seam a POSIX system does not have: version,
// registry, processes, services, privileges and restart answer "not
// available"; the message queue carries only the quit a signal asks for;
// the result-sink messages go to the installed handler.
#include "platform/posix/PosixPlatform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

volatile std::sig_atomic_t quitRequested = 0;

const std::uint32_t kErrorInvalidParameter = 87;

}  // namespace

PosixPlatform::PosixPlatform() : noticeHandler_(nullptr), notifyHandler_(nullptr), lastError_(0)
{
}

PosixPlatform::~PosixPlatform()
{
    for (int drive = 0; drive < 26; ++drive) ReleaseDrive(drive);
}

void PosixPlatform::RequestQuit()
{
    quitRequested = 1;
}

std::int64_t PosixPlatform::CurrentTime()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool PosixPlatform::QueryVersion(VersionInfo&)
{
    // Neither Windows family: the engine's family-specific steps (delayed
    // deletion, restart) find nothing to do.
    return false;
}

long PosixPlatform::RegistryOpen(KeyRef, const char*, std::uint32_t, KeyRef& key)
{
    key = 0;
    return kRegistryNotFound;
}

long PosixPlatform::RegistryQueryValue(KeyRef, const char*, std::uint32_t*, void*, std::uint32_t*)
{
    return kRegistryNotFound;
}

long PosixPlatform::RegistryValueCount(KeyRef, std::uint32_t& count)
{
    count = 0;
    return kRegistryNotFound;
}

long PosixPlatform::RegistryEnumValue(KeyRef, std::uint32_t, char*, std::uint32_t&)
{
    return kRegistryNotFound;
}

long PosixPlatform::RegistryDeleteValue(KeyRef, const char*)
{
    return kRegistryNotFound;
}

long PosixPlatform::RegistryDeleteKey(KeyRef, const char*)
{
    return kRegistryNotFound;
}

void PosixPlatform::RegistryClose(KeyRef)
{
}

std::uint32_t PosixPlatform::RegistryUserCount()
{
    return 1;
}

bool PosixPlatform::SelectRegistryUser(std::uint32_t index)
{
    return index == 0;
}

bool PosixPlatform::RegistryHasTwoViews()
{
    return false;
}

SnapshotRef PosixPlatform::ProcessSnapshot()
{
    return 0;
}

bool PosixPlatform::ProcessFirst(SnapshotRef, ProcessEntry&)
{
    return false;
}

bool PosixPlatform::ProcessNext(SnapshotRef, ProcessEntry&)
{
    return false;
}

void PosixPlatform::SnapshotClose(SnapshotRef)
{
}

bool PosixPlatform::ListProcessIds(std::uint32_t*, std::uint32_t, std::uint32_t& bytesReturned)
{
    bytesReturned = 0;
    return false;
}

std::uint32_t PosixPlatform::ProcessImagePath(ProcessRef, char*, std::uint32_t)
{
    return 0;
}

std::uint32_t PosixPlatform::ProcessImageName(ProcessRef, char*, std::uint32_t)
{
    return 0;
}

ProcessRef PosixPlatform::OpenProcessById(std::uint32_t, std::uint32_t)
{
    // Every process id is unknown to a backend without processes.
    lastError_ = kErrorInvalidParameter;
    return 0;
}

bool PosixPlatform::TerminateProcessRef(ProcessRef, std::uint32_t)
{
    return false;
}

void PosixPlatform::CloseProcess(ProcessRef)
{
}

std::uint32_t PosixPlatform::LastErrorCode()
{
    return lastError_;
}

int PosixPlatform::WideToAnsi(const std::uint16_t* text, int length, char* out, int size)
{
    // Latin-1 as the single-byte code page; anything beyond it becomes '?'.
    int count = 0;
    if (length < 0) {
        while (text[count] != 0) ++count;
        ++count;  // the terminator is converted too
    } else {
        count = length;
    }
    if (count > size) return 0;
    for (int i = 0; i < count; ++i) out[i] = text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
    return count;
}

ServiceRef PosixPlatform::OpenServiceManager(std::uint32_t)
{
    return 0;
}

ServiceRef PosixPlatform::OpenServiceByName(ServiceRef, const char*, std::uint32_t)
{
    return 0;
}

bool PosixPlatform::RequestServiceStop(ServiceRef)
{
    return false;
}

bool PosixPlatform::QueryServiceState(ServiceRef, std::uint32_t&)
{
    return false;
}

void PosixPlatform::CloseServiceRef(ServiceRef)
{
}

PrivilegeResult PosixPlatform::EnablePrivilege(const char*)
{
    return PrivilegeTokenUnavailable;
}

bool PosixPlatform::RequestReboot(std::uint32_t)
{
    return false;
}

void PosixPlatform::EndProgram(int exitCode)
{
    std::exit(exitCode);
}

bool PosixPlatform::TakePendingMessage(PendingMessage& message)
{
    if (!quitRequested) return false;
    quitRequested = 0;
    message = PendingMessage();
    message.message = kMessageQuit;
    return true;
}

void PosixPlatform::DispatchPending(const PendingMessage&)
{
}

void PosixPlatform::NotifyWindow(WindowRef window, std::uint32_t message)
{
    if (notifyHandler_) notifyHandler_(window, message);
}

int PosixPlatform::Prompt(const char*, const char*, std::uint32_t)
{
    // Nobody to ask: the answer is always No, so the console never restarts
    // the machine and a question never stops the scan.
    return kAnswerNo;
}

void PosixPlatform::PlainMessage(const char* text, const char* caption)
{
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

void PosixPlatform::Wait(std::uint32_t milliseconds)
{
    struct timespec left;
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::uint32_t PosixPlatform::TickCount()
{
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}
