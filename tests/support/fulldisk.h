#pragma once

#include <csignal>
#include <sys/resource.h>

// A disk that is full, as far as one process can tell: with the file-size
// limit at `bytes`, a write that would make a regular file longer fails
// (EFBIG, where a full disk gives ENOSPC), and SIGXFSZ, which would end the
// process, is ignored. Needs no mount and no root, so it runs anywhere, and
// nothing is left to clean up. Put back as it was when it goes.
class FullDisk {
public:
    explicit FullDisk(bool on = true, rlim_t bytes = 0) : on_(on)
    {
        if (!on_)
            return;
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        limit(bytes);
    }
    ~FullDisk()
    {
        if (!on_)
            return;
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    // For a child process, between fork and exec (QProcess's child process
    // modifier): SIGXFSZ ignored, so that fillFor() can fill its disk later.
    static void ignoreSignalInChild() { std::signal(SIGXFSZ, SIG_IGN); }
    // The disk of the running process `pid` is full from now on: it can
    // open, say, its port (and write its lock file) first.
    static bool fillFor(pid_t pid, rlim_t bytes = 0)
    {
        rlimit l{};
        if (::prlimit(pid, RLIMIT_FSIZE, nullptr, &l) != 0)
            return false;
        l.rlim_cur = bytes;
        return ::prlimit(pid, RLIMIT_FSIZE, &l, nullptr) == 0;
    }

private:
    static void limit(rlim_t bytes)
    {
        rlimit l{};
        ::getrlimit(RLIMIT_FSIZE, &l);
        l.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }

    bool on_;
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};
