#include "wine/support/FolderSecurity.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <vector>

namespace {

std::string SidText(PSID sid)
{
    char* text = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid, &text)) return "?";
    std::string result = text;
    LocalFree(text);
    return result;
}

std::string FlagsText(BYTE flags)
{
    std::string text;
    if (flags & OBJECT_INHERIT_ACE) text += "OI";
    if (flags & CONTAINER_INHERIT_ACE) text += "CI";
    if (flags & NO_PROPAGATE_INHERIT_ACE) text += "NP";
    if (flags & INHERIT_ONLY_ACE) text += "IO";
    if (flags & INHERITED_ACE) text += "ID";
    return text;
}

}  // namespace

namespace {

// The descriptor of `path` (owner and access list); empty with the error
// in `error` when it cannot be read.
std::vector<unsigned char> ReadDescriptor(const std::string& path, std::string& error)
{
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityA(path.c_str(), wanted, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    if (needed == 0 || !GetFileSecurityA(path.c_str(), wanted, buffer.data(), needed, &needed)) {
        error = "unreadable (error " + std::to_string(GetLastError()) + ")";
        buffer.clear();
    }
    return buffer;
}

// Each entry of the descriptor's access list, in order; `owner` its owner.
std::vector<std::string> Entries(void* descriptor, std::string& owner, bool& isProtected)
{
    std::vector<std::string> entries;
    PSID ownerSid = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &ownerSid, &defaulted);
    owner = SidText(ownerSid);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    isProtected = (control & SE_DACL_PROTECTED) != 0;
    BOOL present = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl) return entries;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
            entries.push_back("type" + std::to_string(header->AceType));
            continue;
        }
        const ACCESS_ALLOWED_ACE* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        char mask[16];
        std::snprintf(mask, sizeof mask, "%lx", static_cast<unsigned long>(entry->Mask));
        entries.push_back(std::string(header->AceType == ACCESS_ALLOWED_ACE_TYPE ? "A" : "D") + ";" +
                          FlagsText(header->AceFlags) + ";" + mask + ";" +
                          SidText(const_cast<DWORD*>(&entry->SidStart)));
    }
    return entries;
}

}  // namespace

std::string DescribeDescriptor(void* descriptor)
{
    std::string owner;
    bool isProtected = false;
    const std::vector<std::string> entries = Entries(descriptor, owner, isProtected);
    std::string text = "owner=" + owner + " protected=" + (isProtected ? "yes" : "no");
    for (const std::string& entry : entries) text += " " + entry;
    return text;
}

std::string DescribeSecurity(const std::string& path)
{
    std::string error;
    std::vector<unsigned char> descriptor = ReadDescriptor(path, error);
    return descriptor.empty() ? error : DescribeDescriptor(descriptor.data());
}

std::string OthersAllowed(const std::string& path)
{
    std::string error;
    std::vector<unsigned char> descriptor = ReadDescriptor(path, error);
    if (descriptor.empty()) return error;
    std::string owner;
    bool isProtected = false;
    std::string others;
    for (const std::string& entry : Entries(descriptor.data(), owner, isProtected)) {
        const std::string holder = entry.substr(entry.rfind(';') + 1);
        if (entry[0] == 'D' || holder == "S-1-5-18" || holder == "S-1-5-32-544" || holder == owner) continue;
        others += (others.empty() ? "" : " ") + entry;
    }
    return others;
}

std::string GuardedSecurity(bool container, bool inherited)
{
    const std::string flags = std::string(container ? "OICI" : "") + (inherited ? "ID" : "");
    return "owner=S-1-5-32-544 protected=" + std::string(inherited ? "no" : "yes") + " A;" + flags +
           ";1f01ff;S-1-5-18 A;" + flags + ";1f01ff;S-1-5-32-544";
}
