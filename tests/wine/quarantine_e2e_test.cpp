// The quarantine end to end with the real programs: a scan of the demo drive
// through Quellor.exe leaves six neutered copies in the program's own place
// under the all-users data folder; quellor-scan.exe lists them, brings one
// back (which a rescan then finds again), refuses to restore over a file
// that is there, and finds nothing when it scans the quarantine itself.
// The setup hook saves the originals on the Linux side, where the check
// hook compares the restored file with its original byte for byte and
// looks for the originals' bytes in the copies.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/FolderSecurity.h"
#include "wine/support/ProgramRun.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const DWORD kRunTimeout = 240000;
const char kHeader[] = "QUELLOR QUARANTINE 1: ";

// The demo samples the scan removes, with their threats.
const char* const kSamples[] = {
    "D:\\Downloads\\setup.exe", "D:\\Downloads\\tools\\update.exe", "D:\\Mail\\photos.zip",
    "D:\\Mail\\newsletter.htm", "D:\\Mail\\greeting.vbs",          "D:\\Downloads\\postcard.vbs",
};

// The quarantine's folder, found with the shell's own call.
std::string StoreFolder()
{
    char folder[MAX_PATH] = "";
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_APPDATA, FALSE)) return std::string();
    return std::string(folder) + "\\Quellor\\Quarantine";
}

std::vector<std::string> StoreFiles(const std::string& store, const char* extension)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((store + "\\*" + extension).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// The id of the listed entry (one JSON object a line) that records `path`.
std::string IdOf(const std::vector<std::string>& listing, const std::string& path)
{
    std::string escaped;
    for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    for (const std::string& line : listing) {
        if (line.find("\"path\":\"" + escaped + "\"") == std::string::npos) continue;
        const std::size_t at = line.find("\"id\":\"");
        if (at != std::string::npos) return line.substr(at + 6, 8);
    }
    return std::string();
}

Finished Scanner(const std::string& arguments)
{
    Finished finished = RunInstalledScanner(arguments);
    if (!finished.started) ReportFailure(__FILE__, __LINE__, "cannot start quellor-scan.exe");
    return finished;
}

}  // namespace

WINE_TEST(TheDialogsScanKeepsSixNeuteredCopiesAndOneComesBackToBeFoundAgain)
{
    const std::string store = StoreFolder();
    CHECK(!store.empty());
    CHECK(StoreFiles(store, ".QMF").empty());
    // The program's data folder made beforehand as anyone may make it there,
    // with what the all-users data folder gives it.
    const std::string dataFolder = store.substr(0, store.rfind('\\'));
    CHECK(CreateDirectoryA(dataFolder.c_str(), nullptr));
    CHECK(!OthersAllowed(dataFolder).empty());

    std::vector<std::string> lines;
    CHECK(ScanToTheEnd(lines, kRunTimeout));
    // The results list holds what it always held: six lines, then the
    // statistics; nothing about the quarantine.
    CHECK_EQ(12u, lines.size());
    for (const char* sample : kSamples) {
        CHECK(!PathPresent(sample));
        bool named = false;
        for (const std::string& line : lines) named = named || line.compare(0, std::strlen(sample) + 5,
                                                                            std::string(sample) + "     ") == 0;
        if (!named) ReportFailure(__FILE__, __LINE__, std::string("no line for ") + sample);
    }

    // Nobody but administrators and the system (and under Wine the owner
    // its mode names) is let into the data folder and the store, whoever
    // made them.
    CHECK_STREQ("", OthersAllowed(dataFolder));
    CHECK_STREQ("", OthersAllowed(store));

    // Six entries, each a manifest and a neutered copy.
    const std::vector<std::string> manifests = StoreFiles(store, ".QMF");
    const std::vector<std::string> copies = StoreFiles(store, ".QDT");
    CHECK_EQ(6u, manifests.size());
    CHECK_EQ(6u, copies.size());
    for (const std::string& copy : copies) {
        std::string bytes;
        CHECK(ReadWholeFile(store + "\\" + copy, bytes));
        CHECK_STREQ(kHeader, bytes.substr(0, std::strlen(kHeader)));
    }

    Finished listed = Scanner("--quarantine-list --json");
    CHECK(listed.ended);
    CHECK_EQ(0u, listed.status);
    CHECK_EQ(6u, listed.out.size());
    const std::string id = IdOf(listed.out, "D:\\Downloads\\setup.exe");
    CHECK_EQ(8u, id.size());

    Finished restored = Scanner("--restore " + id);
    CHECK_EQ(0u, restored.status);
    CHECK(PathPresent("D:\\Downloads\\setup.exe"));
    CHECK_EQ(5u, StoreFiles(store, ".QMF").size());

    // Found again, as before the scan.
    Finished rescan = Scanner("--no-memory --quiet D:\\Downloads");
    CHECK_EQ(1u, rescan.status);
    CHECK(!rescan.out.empty());
    if (!rescan.out.empty()) {
        CHECK_STREQ("D:\\Downloads\\setup.exe     W32/Murkel.A.Trojan not disinfected as per user's selection",
                    rescan.out[0]);
    }

    // A file of the user's own where an entry would go back stays as it is.
    const std::string other = IdOf(listed.out, "D:\\Downloads\\tools\\update.exe");
    CHECK(WriteWholeFile("D:\\Downloads\\tools\\update.exe", "the user's own file"));
    Finished refused = Scanner("--restore " + other);
    CHECK_EQ(2u, refused.status);
    CHECK(!refused.err.empty());
    if (!refused.err.empty()) {
        CHECK_STREQ("quellor-scan: D:\\Downloads\\tools\\update.exe exists: nothing was overwritten "
                    "(--to PATH restores the file elsewhere)",
                    refused.err[0]);
    }
    std::string kept;
    CHECK(ReadWholeFile("D:\\Downloads\\tools\\update.exe", kept));
    CHECK_STREQ("the user's own file", kept);
    CHECK_EQ(5u, StoreFiles(store, ".QMF").size());

    // The quarantine scanned like any folder: its copies match nothing.
    Finished storeScan = Scanner("--no-memory --quiet \"" + store + "\"");
    CHECK_EQ(0u, storeScan.status);
    CHECK(storeScan.err.empty());
}
