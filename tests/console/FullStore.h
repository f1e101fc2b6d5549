// A quarantine store with no room left: one entry whose kept copy (sparse)
// takes all but a few bytes of the store's 1 GiB, with the manifest that
// makes it an entry (a copy without one is a leftover, cleared when the
// store is opened).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "console/TempFolder.h"
#include "scan/NeuteredCopy.h"

inline bool FillStore(const TempFolder& temp, const std::string& store)
{
    const std::uint64_t fillerSize = 1024ull * 1024 * 1024 - 16;
    const std::string filler = temp.Write(store + "/0000FFFF.QDT", "");
    if (truncate(filler.c_str(), static_cast<off_t>(fillerSize)) != 0) return false;
    temp.Write(store + "/0000FFFF.QMF",
               "Quellor quarantine entry 1\r\nid=0000FFFF\r\ndata=0000FFFF.QDT\r\npath=/filler\r\n"
               "threat=W32/Murkel.A.Trojan\r\ntime=1700000000\r\nlength=" +
                   std::to_string(fillerSize - kNeuteredHeaderLength) + "\r\nsha256=" + std::string(64, '0') +
                   "\r\n");
    return true;
}
