// A folder's security descriptor as the Win32 tests compare it: its owner,
// whether its access list is protected from its parent's, and each entry of
// the list, in order.
#pragma once

#include <string>

// "owner=S-1-5-32-544 protected=yes A;OICI;1f01ff;S-1-5-18 ..." (each entry:
// A allowed or D denied, its inheritance flags as OI, CI, NP, IO and ID,
// the access mask in hex, the holder); "unreadable (error N)" when the
// descriptor cannot be read.
std::string DescribeSecurity(const std::string& path);
// The same of a descriptor in memory.
std::string DescribeDescriptor(void* descriptor);
// The entries of the folder's access list that allow anything to someone
// other than the system, the Administrators group and the folder's owner
// (Everyone, Users, Authenticated Users ...), as DescribeSecurity writes
// them; empty when there is none.
std::string OthersAllowed(const std::string& path);

// The same entries the program's guarded folders get, for comparison: owner
// Administrators, protected, full control for the system and for
// administrators, and `inherited` marks both as inherited (for what a
// guarded folder holds).
std::string GuardedSecurity(bool container, bool inherited);
