// What keeps a store of the program's own sound: folders flushed after
// their names change, folders only administrators may change, and files
// held as locks between runs.
//
// The security calls exist only on the NT family (the 95/98/ME family
// exports stubs of some and lacks others), so every one is looked up at run
// time and the program still loads on Windows 98.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include "platform/win32/Win32Internal.h"

using win32detail::KernelFunction;
using win32detail::LookUpFunction;

namespace {

typedef BOOL(WINAPI* AllocateSidFn)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                    DWORD, PSID*);
typedef PVOID(WINAPI* FreeSidFn)(PSID);
typedef DWORD(WINAPI* SidLengthFn)(PSID);
typedef BOOL(WINAPI* InitializeAclFn)(PACL, DWORD, DWORD);
typedef BOOL(WINAPI* AddAllowedAceFn)(PACL, DWORD, DWORD, PSID);
typedef BOOL(WINAPI* GetAceFn)(PACL, DWORD, LPVOID*);
typedef BOOL(WINAPI* InitializeDescriptorFn)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* SetDaclFn)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI* SetOwnerFn)(PSECURITY_DESCRIPTOR, PSID, BOOL);
typedef BOOL(WINAPI* SetControlFn)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);
typedef BOOL(WINAPI* SetObjectSecurityFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
typedef BOOL(WINAPI* FileInformationFn)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
typedef BOOL(WINAPI* MakeSelfRelativeFn)(PSECURITY_DESCRIPTOR, PSECURITY_DESCRIPTOR, LPDWORD);

// The security calls of advapi32.dll; `complete` when every one but the
// optional SetSecurityDescriptorControl (Windows 2000 and later) is there.
struct SecurityCalls {
    bool complete;
    AllocateSidFn allocateSid;
    FreeSidFn freeSid;
    SidLengthFn sidLength;
    InitializeAclFn initializeAcl;
    AddAllowedAceFn addAllowedAce;
    GetAceFn getAce;
    InitializeDescriptorFn initializeDescriptor;
    SetDaclFn setDacl;
    SetOwnerFn setOwner;
    SetControlFn setControl;
    SetObjectSecurityFn setObjectSecurity;
};

SecurityCalls LookUpSecurityCalls()
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    SecurityCalls calls;
    calls.allocateSid = LookUpFunction<AllocateSidFn>(advapi, "AllocateAndInitializeSid");
    calls.freeSid = LookUpFunction<FreeSidFn>(advapi, "FreeSid");
    calls.sidLength = LookUpFunction<SidLengthFn>(advapi, "GetLengthSid");
    calls.initializeAcl = LookUpFunction<InitializeAclFn>(advapi, "InitializeAcl");
    calls.addAllowedAce = LookUpFunction<AddAllowedAceFn>(advapi, "AddAccessAllowedAce");
    calls.getAce = LookUpFunction<GetAceFn>(advapi, "GetAce");
    calls.initializeDescriptor = LookUpFunction<InitializeDescriptorFn>(advapi, "InitializeSecurityDescriptor");
    calls.setDacl = LookUpFunction<SetDaclFn>(advapi, "SetSecurityDescriptorDacl");
    calls.setOwner = LookUpFunction<SetOwnerFn>(advapi, "SetSecurityDescriptorOwner");
    calls.setControl = LookUpFunction<SetControlFn>(advapi, "SetSecurityDescriptorControl");
    calls.setObjectSecurity = LookUpFunction<SetObjectSecurityFn>(advapi, "SetKernelObjectSecurity");
    calls.complete = calls.allocateSid && calls.freeSid && calls.sidLength && calls.initializeAcl &&
                     calls.addAllowedAce && calls.getAce && calls.initializeDescriptor && calls.setDacl &&
                     calls.setOwner && calls.setObjectSecurity;
    return calls;
}

// The major version of an NT-family system; 0 on the 95/98/ME family.
DWORD NtMajorVersion()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
    return version.dwMajorVersion;
}

// A folder of that name and no reparse point (a junction, a link).
bool IsPlainFolder(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The descriptor of a guarded folder: owned by the Administrators group, a
// protected access list with full control, inherited by everything below,
// for the system and for administrators, and no other entry.
class GuardDescriptor {
public:
    GuardDescriptor() : calls_(LookUpSecurityCalls()) { ready_ = calls_.complete && Build(); }
    ~GuardDescriptor()
    {
        if (system_) calls_.freeSid(system_);
        if (administrators_) calls_.freeSid(administrators_);
    }
    GuardDescriptor(const GuardDescriptor&) = delete;
    GuardDescriptor& operator=(const GuardDescriptor&) = delete;

    bool Ready() const { return ready_; }
    SECURITY_DESCRIPTOR* Descriptor() { return &descriptor_; }
    const SecurityCalls& Calls() const { return calls_; }

private:
    bool Build()
    {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!calls_.allocateSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_)) return false;
        if (!calls_.allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators_)) {
            return false;
        }
        const DWORD aceBase = static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD));
        const DWORD size = static_cast<DWORD>(sizeof(ACL)) + 2 * aceBase + calls_.sidLength(system_) +
                           calls_.sidLength(administrators_);
        if (size > sizeof acl_ || !calls_.initializeAcl(reinterpret_cast<PACL>(acl_), size, ACL_REVISION)) return false;
        PACL acl = reinterpret_cast<PACL>(acl_);
        PSID holders[] = {system_, administrators_};
        for (DWORD i = 0; i < 2; ++i) {
            LPVOID ace = nullptr;
            if (!calls_.addAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, holders[i]) ||
                !calls_.getAce(acl, i, &ace)) {
                return false;
            }
            // NT 4.0 has no call that adds an entry with its inheritance.
            static_cast<ACE_HEADER*>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        }
        if (!calls_.initializeDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !calls_.setDacl(&descriptor_, TRUE, acl, FALSE) ||
            !calls_.setOwner(&descriptor_, administrators_, FALSE)) {
            return false;
        }
        // Windows 2000 and later inherit entries from the parent folder
        // unless the list is protected; NT 4.0 knows no such inheritance.
        if (calls_.setControl && !calls_.setControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return false;
        return true;
    }

    SecurityCalls calls_;
    bool ready_ = false;
    PSID system_ = nullptr;
    PSID administrators_ = nullptr;
    DWORD acl_[64];
    SECURITY_DESCRIPTOR descriptor_;
};

// Gives the existing folder `path` the guard's descriptor, through a handle
// of the folder itself: a junction or a link put there is refused, never
// followed.
bool GuardExistingFolder(const char* path, GuardDescriptor& guard)
{
    FileInformationFn information = KernelFunction<FileInformationFn>("GetFileInformationByHandle");
    if (information == nullptr) return false;
    // Reparse points came with Windows 2000; NT 4.0 knows no such flag.
    const DWORD reparse = NtMajorVersion() >= 5 ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    HANDLE folder = CreateFileA(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | reparse, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION about;
    const bool guarded = information(folder, &about) && (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                         !(about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                         guard.Calls().setObjectSecurity(folder,
                                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                         guard.Descriptor());
    CloseHandle(folder);
    return guarded;
}

}  // namespace

bool Win32Platform::FlushFolder(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    // The 95/98/ME family opens no folder as a file.
    if (NtMajorVersion() == 0) return true;
    // The folder's own buffers are flushed through a handle with write
    // access, which only backup semantics open on a folder.
    HANDLE folder = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(folder) != FALSE;
    CloseHandle(folder);
    return flushed;
}

bool Win32Platform::MakeGuardedFolder(const char* path)
{
    if (NtMajorVersion() == 0) return CreateDirectoryA(path, nullptr) != FALSE || IsPlainFolder(path);
    GuardDescriptor guard;
    if (!guard.Ready()) return false;
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = guard.Descriptor();
    attributes.bInheritHandle = FALSE;
    // A new folder is guarded from its first moment; one that was there
    // (made by anyone) gets the guard's descriptor in place of its own.
    if (CreateDirectoryA(path, &attributes)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && GuardExistingFolder(path, guard);
}

std::vector<unsigned char> GuardedFolderDescriptorForTesting()
{
    std::vector<unsigned char> bytes;
    GuardDescriptor guard;
    MakeSelfRelativeFn makeSelfRelative =
        LookUpFunction<MakeSelfRelativeFn>(GetModuleHandleA("advapi32.dll"), "MakeSelfRelativeSD");
    if (!guard.Ready() || makeSelfRelative == nullptr) return bytes;
    DWORD size = 0;
    makeSelfRelative(guard.Descriptor(), nullptr, &size);
    bytes.resize(size);
    if (size == 0 || !makeSelfRelative(guard.Descriptor(), bytes.data(), &size)) bytes.clear();
    return bytes;
}
