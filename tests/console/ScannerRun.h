// quellor-scan run as a program: its arguments, with its standard output
// and error captured and its home folder a scratch one (so the quarantine's
// default place is never the real home of whoever runs the tests).
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "console/TempFolder.h"

inline const uid_t kNobody = 65534;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

struct RunOptions {
    bool unprivileged = false;  // run as "nobody" when the tests run as the superuser
    std::string folder;         // working folder; empty: the current one
    // Set in the scanner's environment after the defaults below.
    std::vector<std::pair<std::string, std::string>> environment;
    // The largest file the program may write (RLIMIT_FSIZE), 0 for no
    // limit: a write past it stops short, as on a full disk.
    long long fileSizeLimit = 0;
};

// A program started and not yet waited for, with where its output goes.
struct StartedProgram {
    pid_t pid;
    std::string outPath;
    std::string errPath;
    std::unique_ptr<TempFolder> io;
};

// Starts `program` with `arguments` and returns at once.
inline StartedProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                                   const RunOptions& how = RunOptions())
{
    StartedProgram started;
    started.io.reset(new TempFolder);
    const TempFolder& io = *started.io;
    started.outPath = io / "out";
    started.errPath = io / "err";
    // The quarantine's default place is a scratch folder (writable for
    // "nobody" too), never the home folder of whoever runs the tests.
    const std::string home = io.Folder("home");
    chmod(home.c_str(), 0777);
    started.pid = fork();
    if (started.pid == 0) {
        // Every run ends within two minutes: a program that hangs is ended.
        alarm(120);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        for (const auto& variable : how.environment) setenv(variable.first.c_str(), variable.second.c_str(), 1);
        int out = open(started.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(started.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(120);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        int none = open("/dev/null", O_RDONLY);
        dup2(none, STDIN_FILENO);
        if (!how.folder.empty() && chdir(how.folder.c_str()) != 0) _exit(121);
        if (how.unprivileged && geteuid() == 0) {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(122);
        }
        if (how.fileSizeLimit > 0) {
            // A write past the limit then fails instead of ending the program.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(how.fileSizeLimit);
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(124);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(123);
    }
    return started;
}

// Waits for a started program; its exit status and output.
inline Outcome FinishProgram(StartedProgram& started)
{
    int status = 0;
    waitpid(started.pid, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadFileText(started.outPath);
    outcome.err = ReadFileText(started.errPath);
    return outcome;
}

inline StartedProgram StartScanner(const std::vector<std::string>& arguments, const RunOptions& how = RunOptions())
{
    return StartProgram(QUELLOR_SCAN_PATH, arguments, how);
}

inline Outcome RunScanner(const std::vector<std::string>& arguments, const RunOptions& how = RunOptions())
{
    StartedProgram started = StartScanner(arguments, how);
    return FinishProgram(started);
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}


// Gives the tree to "nobody" when the tests run as the superuser, so the
// scanner run under that account owns what it must change.
inline void GiveToUnprivileged(const std::string& path)
{
    if (geteuid() != 0) return;
    ASSERT_EQ(0, lchown(path.c_str(), kNobody, kNobody)) << path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        for (const auto& entry : std::filesystem::directory_iterator(path)) GiveToUnprivileged(entry.path());
    }
}
