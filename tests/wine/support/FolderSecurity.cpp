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

std::string DescribeSecurity(const std::string& path)
{
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityA(path.c_str(), wanted, nullptr, 0, &needed);
    if (needed == 0) return "unreadable (error " + std::to_string(GetLastError()) + ")";
    std::vector<unsigned char> buffer(needed);
    PSECURITY_DESCRIPTOR descriptor = buffer.data();
    if (!GetFileSecurityA(path.c_str(), wanted, descriptor, needed, &needed)) {
        return "unreadable (error " + std::to_string(GetLastError()) + ")";
    }
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    std::string text = "owner=" + SidText(owner) + " protected=" + ((control & SE_DACL_PROTECTED) ? "yes" : "no");
    BOOL present = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl) {
        return text + " no-access-list";
    }
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(acl, i, &ace)) return text + " ?";
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        char mask[16];
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            const ACCESS_ALLOWED_ACE* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            std::snprintf(mask, sizeof mask, "%lx", static_cast<unsigned long>(entry->Mask));
            text += std::string(" ") + (header->AceType == ACCESS_ALLOWED_ACE_TYPE ? "A" : "D") + ";" +
                    FlagsText(header->AceFlags) + ";" + mask + ";" +
                    SidText(const_cast<DWORD*>(&entry->SidStart));
        } else {
            text += " type" + std::to_string(header->AceType);
        }
    }
    return text;
}

std::string GuardedSecurity(bool container, bool inherited)
{
    const std::string flags = std::string(container ? "OICI" : "") + (inherited ? "ID" : "");
    return "owner=S-1-5-32-544 protected=" + std::string(inherited ? "no" : "yes") + " A;" + flags +
           ";1f01ff;S-1-5-18 A;" + flags + ";1f01ff;S-1-5-32-544";
}
