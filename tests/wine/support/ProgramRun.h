// Runs a console program the way a user's shell would, with its standard
// output and error captured (in files on c:, out of any scan's way), and
// waits for it within a timeout.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Finished {
    bool started;
    bool ended;  // within the timeout
    DWORD status;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

// The lines of `text`, without their line ends (LF or CR LF).
std::vector<std::string> LinesOf(const std::string& text);

// Runs `program` with `arguments` (one command-line text) in the folder
// C:\ and waits for it; ended by force after `timeout` ms.
Finished RunProgram(const char* program, const std::string& arguments, DWORD timeout);

// A program started and not yet waited for, and the files on c: its
// standard output and error go to.
struct StartedProgram {
    bool started;
    HANDLE process;
    std::string outFile;
    std::string errFile;
};

// Starts `program` as RunProgram does, its output going to `outFile` and
// `errFile`, and returns at once.
StartedProgram StartProgram(const char* program, const std::string& arguments, const std::string& outFile,
                            const std::string& errFile);
// Waits for a started program; ended by force after `timeout` ms.
Finished FinishProgram(StartedProgram& started, DWORD timeout);

// quellor-scan.exe as the tests install it (C:\Quellor), run with
// `arguments` and four minutes to finish.
Finished RunInstalledScanner(const std::string& arguments);
