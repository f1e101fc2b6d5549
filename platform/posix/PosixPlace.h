// The POSIX backend's own pieces shared by its drives, listings and file
// calls: an engine path taken apart, the place it leads to below a held
// drive folder, and an enumeration in progress.
#pragma once

#include <dirent.h>

#include <string>

#include "platform/Platform.h"
#include "platform/posix/HeldFolder.h"

// An engine path ("C:\\dir\\file.exe") taken apart: its drive (0 for A),
// the folders below the drive's own ('/' between them, "" for none) and its
// last name ("" when the path names the drive's folder itself).
struct EngineSplit {
    int drive = -1;
    std::string folders;
    std::string name;
    // The path ended in a separator: only a folder answers it.
    bool folderOnly = false;

    // The whole path below the drive's folder ('/' between names).
    std::string Relative() const;
};

// False when the path has no drive letter, or a "." or ".." step.
bool SplitEnginePath(const char* enginePath, EngineSplit& split);

// Where an engine path leads: the folder that holds its last name, held
// open, and that name. A place borrows the folder of the enumeration that
// listed the name last, or owns one it opened itself.
struct EnginePlace {
    EnginePlace() = default;
    ~EnginePlace();
    EnginePlace(const EnginePlace&) = delete;
    EnginePlace& operator=(const EnginePlace&) = delete;

    // What RiskOf tells of the folder, taken when first asked.
    const FolderRisk& Risk();

    EngineSplit split;
    int folder = -1;
    bool owned = false;
    // The type the enumeration's listing gave the name; DT_UNKNOWN when no
    // listing gave it.
    unsigned char listedType = DT_UNKNOWN;
    // errno of the failure when `folder` is -1.
    int error = 0;
    std::string host;  // for notices
    bool riskKnown = false;
    FolderRisk risk = {true, false};
};

// One enumeration of a held folder: the entries that match a mask, or the
// single entry an exact name finds.
struct HeldSearch {
    DIR* dir = nullptr;
    int drive = -1;
    std::string folders;       // below the drive's folder, as EngineSplit::folders
    std::string hostFolder;    // for notices
    std::string engineFolder;  // ends with '\\'
    std::string mask;
    FolderRisk risk = {true, false};
    bool dotPending[2] = {false, false};  // "." and ".." still to give, before the folder's own
    bool listing = true;  // false: the single entry an exact name found
    bool singlePending = false;
    DirEntry single;
    unsigned char singleType = DT_UNKNOWN;
    // The entry given last, and the type its listing gave it.
    std::string lastName;
    unsigned char lastType = DT_UNKNOWN;
};

// The type bits (S_IFMT) of a listing's entry type; 0 when it gave none.
mode_t TypeOfListed(unsigned char listedType);
// A FIFO, socket or device: never opened.
bool IsSpecialType(mode_t type);
