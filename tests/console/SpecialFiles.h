// Special files for tests that show one is never opened: a FIFO with a
// writer waiting at its other end, a device number no driver serves, and a
// watch that sees a device node being opened.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

// A writer waiting to open the FIFO is let through the moment anything
// opens it for reading: the test sees whether the scanner did.
class WaitingWriter {
public:
    explicit WaitingWriter(const std::string& fifo)
    {
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(fifo.c_str(), O_WRONLY);
            _exit(fd >= 0 ? 0 : 1);
        }
        usleep(100 * 1000);
    }
    // True when the writer's open went through (someone opened the FIFO).
    bool WasLetThrough()
    {
        int status = 0;
        const bool ended = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        return ended;
    }

private:
    pid_t pid_;
};

// A character device number with no driver behind it on this machine (from
// the ranges set aside for local use): an attempt to open it fails in the
// driver lookup, so a device that was opened would come back with that
// failure instead of being named for its type.
inline unsigned UnboundCharacterMajor()
{
    std::set<unsigned> bound;
    std::ifstream devices("/proc/devices");
    std::string line;
    while (std::getline(devices, line) && line != "Block devices:") {
        unsigned major = 0;
        if (std::sscanf(line.c_str(), " %u", &major) == 1) bound.insert(major);
    }
    for (unsigned major = 240; major <= 254; ++major) {
        if (!bound.count(major)) return major;
    }
    return 0;
}

// Counts the times a file (a device node) is opened, by anyone, from the
// watch's start: inotify reports every open of it.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path)
    {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && inotify_add_watch(fd_, path.c_str(), IN_OPEN) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~OpenWatch()
    {
        if (fd_ >= 0) close(fd_);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    bool Watching() const { return fd_ >= 0; }
    // The opens reported since the last call.
    int Opens()
    {
        int opens = 0;
        char buffer[4096] __attribute__((aligned(8)));
        struct pollfd ready = {fd_, POLLIN, 0};
        while (fd_ >= 0 && poll(&ready, 1, 50) > 0) {
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) break;
            for (ssize_t at = 0; at < got;) {
                const struct inotify_event* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) ++opens;
                at += static_cast<ssize_t>(sizeof *event + event->len);
            }
        }
        return opens;
    }

private:
    int fd_ = -1;
};
