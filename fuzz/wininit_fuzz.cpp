// libFuzzer target: the wininit.ini editor on arbitrary old content, in the
// states an earlier interrupted run can leave behind. The input's first byte
// chooses the state (bit 0: the saved copy of the old file is there and
// wininit.ini is not; bit 1: a half-written new file is left over; bit 2:
// writes stop after a number of bytes taken from the second byte); the rest
// is the old content. Any crash, sanitizer report or broken invariant is a
// finding.
//
// Invariants: afterwards the Windows folder holds wininit.ini and nothing of
// the editor's own; on success wininit.ini ends with the new entry's line
// inside its [rename] section, every line ends in CR LF, and no line of the
// old content is lost; on failure the old content is where it was, whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "scan/DeleteOnRestart.h"

namespace {

const char kFolder[] = "C:\\WINDOWS";
const char kIni[] = "C:\\WINDOWS\\wininit.ini";
const char kSaved[] = "C:\\WINDOWS\\wininit.qsv";
const char kNew[] = "C:\\WINDOWS\\wininit.qnw";
const char kEntryLine[] = "NUL=C:\\X\\WORM.EXE\r\n";

void Require(bool condition)
{
    if (!condition) std::abort();
}

// The old content's lines without their line ends, as the editor splits
// them (at LF, a CR before it belonging to the line end).
std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos) end = text.size();
        else if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const std::uint8_t state = data[0];
    const std::string old(reinterpret_cast<const char*>(data + 2), size - 2);

    FakePlatform fake;
    SetPlatform(&fake);
    fake.AddDrive('C', DriveFixed);
    fake.AddFolder(kFolder);
    fake.version.platformId = 1;
    fake.AddFile((state & 1) ? kSaved : kIni, old);
    if (state & 2) fake.AddFile(kNew, "[rename]\r\nNUL=C:\\HALF");
    if (state & 4) fake.writeBudget = data[1] * 8;

    const bool added = AddWininitRenameEntry("NUL", "C:\\X\\WORM.EXE");

    Require(!fake.Exists(kSaved) || !added);
    Require(!fake.Exists(kNew) || !added);
    if (added) {
        const std::string now = fake.Content(kIni);
        Require(now.size() >= std::strlen(kEntryLine));
        Require(now.find(kEntryLine) != std::string::npos);
        for (std::size_t at = now.find('\n'); at != std::string::npos; at = now.find('\n', at + 1)) {
            Require(at > 0 && now[at - 1] == '\r');
        }
        Require(now.back() == '\n');
        // Every old line is still there, in order.
        std::vector<std::string> before = LinesOf(old);
        std::vector<std::string> after = LinesOf(now);
        std::size_t next = 0;
        for (const std::string& line : after) {
            if (next < before.size() && line == before[next]) ++next;
        }
        Require(next == before.size());
    } else {
        // Nothing lost: the old content is whole, in wininit.ini or still in
        // the saved copy a failed recovery left alone.
        Require((fake.Exists(kIni) && fake.Content(kIni) == old) ||
                ((state & 1) && fake.Exists(kSaved) && fake.Content(kSaved) == old));
    }
    SetPlatform(nullptr);
    return 0;
}
