// Processes, services, privileges, restart and the end of the program, as
// the tests set them up; every request is recorded.
#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cstring>

#include "platform/fake/FakeInternal.h"

using fakedetail::Upper;

std::uint32_t FakePlatform::AddProcess(const std::string& imagePath, bool canOpen, bool canTerminate)
{
    std::uint32_t id = nextProcessId_;
    nextProcessId_ += 4;
    processes_.push_back(FakeProcess{id, imagePath, canOpen, canTerminate, true});
    return id;
}

void FakePlatform::RequireDebugPrivilege(std::uint32_t processId)
{
    for (auto& process : processes_) {
        if (process.processId == processId) process.needsDebugPrivilege = true;
    }
}

void FakePlatform::MakeSixtyFourBit(std::uint32_t processId)
{
    for (auto& process : processes_) {
        if (process.processId == processId) process.is64Bit = true;
    }
}

int FakePlatform::OpenProcessCount() const
{
    return static_cast<int>(openProcesses_.size());
}

const FakePlatform::FakeProcess* FakePlatform::FindProcess(std::uint32_t processId) const
{
    for (const auto& process : processes_) {
        if (process.processId == processId) return &process;
    }
    return nullptr;
}

SnapshotRef FakePlatform::ProcessSnapshot()
{
    if (!toolHelpAvailable) return 0;
    SnapshotRef handle = nextSnapshot_++;
    snapshots_[handle] = 0;
    return handle;
}

namespace {
bool NextRunning(const std::vector<FakePlatform::FakeProcess>& processes, std::size_t& cursor, ProcessEntry& entry)
{
    while (cursor < processes.size() && !processes[cursor].running) ++cursor;
    if (cursor >= processes.size()) return false;
    std::memset(&entry, 0, sizeof entry);
    entry.processId = processes[cursor].processId;
    std::strncpy(entry.exeFile, processes[cursor].imagePath.c_str(), sizeof entry.exeFile - 1);
    ++cursor;
    return true;
}
}  // namespace

bool FakePlatform::ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry)
{
    auto found = snapshots_.find(snapshot);
    if (found == snapshots_.end()) return false;
    found->second = 0;
    return NextRunning(processes_, found->second, entry);
}

bool FakePlatform::ProcessNext(SnapshotRef snapshot, ProcessEntry& entry)
{
    auto found = snapshots_.find(snapshot);
    if (found == snapshots_.end()) return false;
    return NextRunning(processes_, found->second, entry);
}

void FakePlatform::SnapshotClose(SnapshotRef snapshot)
{
    snapshots_.erase(snapshot);
}

bool FakePlatform::ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned)
{
    if (!psapiAvailable) return false;
    std::uint32_t count = 0;
    for (const auto& process : processes_) {
        if (!process.running) continue;
        if ((count + 1) * 4 > capacityBytes) break;
        ids[count++] = process.processId;
    }
    bytesReturned = count * 4;
    return true;
}

std::uint32_t FakePlatform::ProcessImagePath(ProcessRef process, char* out, std::uint32_t size)
{
    auto found = openProcesses_.find(process);
    if (found == openProcesses_.end() || size == 0) return 0;
    if ((found->second.access & kProcessQueryRead) != kProcessQueryRead) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return 0;
    }
    const FakeProcess* target = FindProcess(found->second.processId);
    if (!target) return 0;
    if (wow64 && target->is64Bit) {
        lastError = 299;  // ERROR_PARTIAL_COPY: its loader data lies beyond 32-bit reach
        return 0;
    }
    std::size_t length = std::min<std::size_t>(target->imagePath.size(), size - 1);
    std::memcpy(out, target->imagePath.data(), length);
    out[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

std::uint32_t FakePlatform::ProcessImageName(ProcessRef process, char* out, std::uint32_t size)
{
    const std::uint32_t kQueryInformation = 0x0400;
    const std::uint32_t kQueryLimitedInformation = 0x1000;
    if (size > 0) out[0] = '\0';
    if (!fullImageNameAvailable) return 0;
    auto found = openProcesses_.find(process);
    if (found == openProcesses_.end() || size == 0) return 0;
    if (!(found->second.access & (kQueryInformation | kQueryLimitedInformation))) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return 0;
    }
    const FakeProcess* target = FindProcess(found->second.processId);
    if (!target) return 0;
    if (target->imagePath.size() + 1 > size) {
        lastError = 122;  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    std::memcpy(out, target->imagePath.c_str(), target->imagePath.size() + 1);
    return static_cast<std::uint32_t>(target->imagePath.size());
}

ProcessRef FakePlatform::OpenProcessById(std::uint32_t access, std::uint32_t processId)
{
    processOpens.push_back(ProcessOpen{access, processId});
    const FakeProcess* target = FindProcess(processId);
    if (!target || !target->running) {
        lastError = 87;  // ERROR_INVALID_PARAMETER
        return 0;
    }
    if (!target->canOpen || (target->needsDebugPrivilege && !debugPrivilegeEnabled)) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return 0;
    }
    lastError = 0;
    ProcessRef handle = nextProcessRef_++;
    openProcesses_[handle] = OpenProcessHandle{processId, access};
    return handle;
}

bool FakePlatform::TerminateProcessRef(ProcessRef process, std::uint32_t)
{
    auto found = openProcesses_.find(process);
    if (found == openProcesses_.end()) return false;
    if (!(found->second.access & kProcessTerminate)) {
        lastError = 5;  // ERROR_ACCESS_DENIED
        return false;
    }
    for (auto& target : processes_) {
        if (target.processId != found->second.processId) continue;
        if (!target.canTerminate || !target.running) return false;
        target.running = false;
        terminatedProcesses.push_back(target.processId);
        return true;
    }
    return false;
}

void FakePlatform::CloseProcess(ProcessRef process)
{
    openProcesses_.erase(process);
}

std::uint32_t FakePlatform::LastErrorCode()
{
    return lastError;
}

int FakePlatform::WideToAnsi(const std::uint16_t* text, int length, char* out, int size)
{
    // ASCII passes through; anything else becomes '?', as the default
    // character of the ANSI code page.
    std::string converted;
    if (length < 0) {
        for (const std::uint16_t* p = text;; ++p) {
            converted += *p < 0x80 ? static_cast<char>(*p) : '?';
            if (*p == 0) break;
        }
    } else {
        for (int i = 0; i < length; ++i) converted += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    if (converted.size() > static_cast<std::size_t>(size)) return 0;
    std::memcpy(out, converted.data(), converted.size());
    return static_cast<int>(converted.size());
}

// ---------------------------------------------------------------- services

int FakePlatform::OpenServiceCount() const
{
    return static_cast<int>(openServices_.size());
}

ServiceRef FakePlatform::OpenServiceManager(std::uint32_t access)
{
    serviceAccess.push_back(access);
    if (serviceManagerFails) return 0;
    ServiceRef handle = nextService_++;
    openServices_[handle] = std::string();
    return handle;
}

ServiceRef FakePlatform::OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access)
{
    serviceAccess.push_back(access);
    if (!openServices_.count(manager) || !services.count(Upper(name))) return 0;
    ServiceRef handle = nextService_++;
    openServices_[handle] = Upper(name);
    return handle;
}

bool FakePlatform::RequestServiceStop(ServiceRef service)
{
    auto found = openServices_.find(service);
    if (found == openServices_.end() || found->second.empty()) return false;
    stopRequests.push_back(found->second);
    return services[found->second].acceptsStop;
}

bool FakePlatform::QueryServiceState(ServiceRef service, std::uint32_t& state)
{
    auto found = openServices_.find(service);
    if (found == openServices_.end() || found->second.empty()) return false;
    FakeService& target = services[found->second];
    if (target.states.empty() || target.queries >= target.answered) return false;
    state = target.states[std::min(target.queries, target.states.size() - 1)];
    ++target.queries;
    return true;
}

void FakePlatform::CloseServiceRef(ServiceRef handle)
{
    openServices_.erase(handle);
}

// ---------------------------------------------------------------- privileges, restart, end

PrivilegeResult FakePlatform::EnablePrivilege(const char* privilegeName)
{
    privilegeRequests.push_back(privilegeName);
    if (privilegeResult == PrivilegeEnabled && std::string(privilegeName) == "SeDebugPrivilege") {
        debugPrivilegeEnabled = true;
    }
    return privilegeResult;
}

bool FakePlatform::RequestReboot(std::uint32_t flags)
{
    rebootRequests.push_back(flags);
    return rebootResult;
}

void FakePlatform::EndProgram(int exitCode)
{
    endProgramCalls.push_back(exitCode);
}
