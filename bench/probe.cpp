// quillonemu-bench-probe: starts one program with port 1 pointed at a fresh
// pseudo-terminal and clocks what it does, as seen from outside:
//
//   - the arrival of every ten-byte packet at the master side (the time the
//     first byte of the packet was read), on CLOCK_MONOTONIC;
//   - optionally a signal (SIGINT unless --signal says otherwise) sent a
//     given time after the first packet, or after the start;
//   - the first time standard output holds a given text;
//   - the end of the process (its pidfd becomes readable), its exit status,
//     user and system CPU time, and peak resident memory (wait4);
//   - optionally the CPU time the process had used when each packet arrived,
//     at a given time after the start and when the signal was sent (summed
//     over its threads from /proc, in nanoseconds where the kernel keeps
//     scheduler statistics).
//
// The master side is read in one of three ways:
//
//   - by default it blocks in poll() and reads at once when it wakes;
//   - with --spin it never sleeps but polls in a tight loop, so that its own
//     wake-up (which on a virtual machine can take a good part of a
//     millisecond) does not add to the times. It then keeps one core busy;
//   - with --line-speed it reads at the pace of the real line, 600 baud and
//     11 bit times a byte (about 54.5 bytes a second), as a handset takes
//     them: bytes waiting on an idle line start across it when they are
//     seen, and each is read, and timed, when it has crossed. A program that
//     hands over more than the line carries then finds them waiting in the
//     pseudo-terminal, as on a real port. After the process has ended the
//     probe goes on reading until the line has been idle for a moment.
//
// The stop is the signal, or, when none is sent, the first time standard
// output holds the marker (a program that stops itself prints it). With
// --after-stop S the probe waits at most S seconds after the stop: then it
// kills the process if it is still running, reads whatever is still waiting
// at once, and reports it as left over ("bytes_left"). It also reports the
// bytes that arrived after the stop and, at line speed, the most bytes seen
// waiting in the pseudo-terminal before a read (the kernel tells at most
// 4095 of them).
//
// Every time is in nanoseconds since the moment just before the program was
// started. The result is one JSON object on standard output; the program's
// own standard error passes through.
//
//   quillonemu-bench-probe [--signal-after MS | --signal-at MS] [--signal INT|TERM]
//                          [--marker TEXT] [--after-stop S] [--cpu] [--cpu-from MS]
//                          [--spin | --line-speed] [--timeout S] [--env NAME=VALUE]...
//                          -- PROGRAM [ARGS...]
//
// Plain POSIX and no Qt, so the probe itself stays small and quick.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int kPacketSize = 10;
// One byte on the line: 11 bit times at 600 baud.
constexpr int64_t kByteNs = int64_t{11} * 1'000'000'000 / 600;
// At line speed, after the process has ended: the line counts as done once
// nothing has come for this long.
constexpr int64_t kQuietNs = 300'000'000;

int64_t now()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "quillonemu-bench-probe: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: quillonemu-bench-probe [--signal-after MS | --signal-at MS] [--signal INT|TERM]\n"
                         "         [--marker TEXT] [--after-stop S] [--cpu] [--cpu-from MS] [--spin | --line-speed]\n"
                         "         [--timeout S] [--env NAME=VALUE]... -- PROGRAM [ARGS...]\n");
    std::exit(2);
}

std::optional<std::string> readFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// CPU time the process has used so far, over all its threads: the sum of the
// threads' scheduler run times, or user + system ticks where those are not
// kept. -1 when the process is gone.
int64_t cpuNs(pid_t pid)
{
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    if (DIR *dir = ::opendir(taskDir.c_str())) {
        int64_t sum = 0;
        bool complete = true;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::optional<std::string> stat = readFile(taskDir + "/" + entry->d_name + "/schedstat");
            if (!stat) {
                complete = false;
                break;
            }
            sum += std::strtoll(stat->c_str(), nullptr, 10);
        }
        ::closedir(dir);
        if (complete)
            return sum;
    }
    const std::optional<std::string> stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return -1;
    // Fields after the command name, which is in parentheses and may hold
    // spaces: state is field 3, utime 14, stime 15.
    const size_t close = stat->rfind(')');
    if (close == std::string::npos)
        return -1;
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < stat->size()) {
        const size_t space = stat->find(' ', pos);
        fields.push_back(stat->substr(pos, space - pos));
        if (space == std::string::npos)
            break;
        pos = space + 1;
    }
    if (fields.size() < 13)
        return -1;
    const int64_t ticks = std::strtoll(fields[11].c_str(), nullptr, 10) + std::strtoll(fields[12].c_str(), nullptr, 10);
    return ticks * 1'000'000'000 / ::sysconf(_SC_CLK_TCK);
}

void appendJsonString(std::string &out, const std::string &text)
{
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendList(std::string &out, const char *name, const std::vector<int64_t> &values)
{
    out += '"';
    out += name;
    out += "\":[";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        out += std::to_string(values[i]);
    }
    out += "],";
}

void appendNumber(std::string &out, const char *name, std::optional<int64_t> value)
{
    out += '"';
    out += name;
    out += "\":";
    out += value ? std::to_string(*value) : "null";
    out += ',';
}

} // namespace

int main(int argc, char **argv)
{
    std::optional<int64_t> signalAfterNs; // after the first packet
    std::optional<int64_t> signalAtNs;    // after the start
    int signalNumber = SIGINT;
    std::string marker;
    std::optional<int64_t> afterStopNs;
    bool sampleCpu = false;
    std::optional<int64_t> cpuFromNs;
    bool spin = false;
    bool lineSpeed = false;
    int64_t timeoutNs = int64_t{120} * 1'000'000'000;
    std::vector<std::string> extraEnv;
    int first = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--") {
            first = i + 1;
            break;
        } else if (arg == "--signal-after" && hasValue) {
            signalAfterNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e6);
        } else if (arg == "--signal-at" && hasValue) {
            signalAtNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e6);
        } else if (arg == "--signal" && hasValue) {
            const std::string name = argv[++i];
            if (name == "INT")
                signalNumber = SIGINT;
            else if (name == "TERM")
                signalNumber = SIGTERM;
            else
                usage();
        } else if (arg == "--marker" && hasValue) {
            marker = argv[++i];
        } else if (arg == "--after-stop" && hasValue) {
            afterStopNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e9);
        } else if (arg == "--cpu") {
            sampleCpu = true;
        } else if (arg == "--cpu-from" && hasValue) {
            cpuFromNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e6);
        } else if (arg == "--spin") {
            spin = true;
        } else if (arg == "--line-speed") {
            lineSpeed = true;
        } else if (arg == "--timeout" && hasValue) {
            timeoutNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e9);
        } else if (arg == "--env" && hasValue) {
            extraEnv.emplace_back(argv[++i]);
        } else {
            usage();
        }
    }
    if (first < 0 || first >= argc || (spin && lineSpeed) || (signalAfterNs && signalAtNs))
        usage();
    const bool signalWanted = signalAfterNs || signalAtNs;

    // The handset's side of the line. The probe keeps the slave open too, so
    // the line stays up while the program opens and closes its port, and
    // what the program handed over stays readable after it has ended.
    int master = -1;
    int slave = -1;
    char slaveName[256] = {};
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0)
        die("openpty");
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    for (const int fd : {master, slave})
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        die("pipe");

    std::vector<std::string> envStrings;
    envStrings.push_back(std::string("QUILLONEMU_COM1=") + slaveName);
    for (const std::string &e : extraEnv)
        envStrings.push_back(e);
    std::vector<char *> env;
    for (std::string &e : envStrings)
        env.push_back(e.data());
    for (char **e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string &mine : envStrings) {
            const size_t eq = mine.find('=');
            if (std::strncmp(*e, mine.c_str(), eq + 1) == 0)
                replaced = true;
        }
        if (!replaced)
            env.push_back(*e);
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);

    // The program gets the signal actions a terminal gives it, also when the
    // benchmark was started in the background (which ignores SIGINT, and a
    // Python program then ignores Ctrl-C).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
        sigaddset(&defaults, sig);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const int64_t start = now();
    pid_t pid = 0;
    if (const int error = ::posix_spawnp(&pid, argv[first], &actions, &attributes, argv + first, env.data());
        error != 0) {
        errno = error;
        die(std::string("cannot start ") + argv[first]);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        die("pidfd_open");

    std::vector<int64_t> packets;
    std::vector<int64_t> cpuAtPackets;
    int64_t bytes = 0;
    std::optional<int64_t> lastByteAt;
    std::optional<int64_t> signalAt;
    std::optional<int64_t> markerAt;
    std::optional<int64_t> stopAt;
    int64_t bytesAtStop = 0;
    int64_t bytesLeft = 0;
    int64_t largestBacklog = 0;
    std::optional<int64_t> exitAt;
    std::optional<int64_t> cpuFromAt;
    std::optional<int64_t> cpuFrom;
    std::optional<int64_t> cpuAtSignal;
    bool timedOut = false;
    bool killed = false;
    std::string output;
    int outFd = out[0];
    // At line speed: whether bytes are crossing the line now, when the line
    // will have carried every byte read so far, and since when it is idle.
    bool lineBusy = false;
    int64_t lineFreeAt = 0;
    int64_t idleSince = 0;

    // Counts `n` bytes read, the first one at `firstAt` and each next one
    // `stepNs` later.
    auto received = [&](ssize_t n, int64_t firstAt, int64_t stepNs) {
        for (ssize_t i = 0; i < n; ++i, ++bytes) {
            const int64_t at = firstAt + i * stepNs;
            if (bytes % kPacketSize == 0) {
                packets.push_back(at);
                if (sampleCpu)
                    cpuAtPackets.push_back(cpuNs(pid));
            }
            lastByteAt = at;
        }
    };
    auto readAtOnce = [&](int64_t arrived) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                return;
            received(n, arrived, 0);
        }
    };
    // Reads the bytes that have crossed the line by `t`, each timed when it
    // had crossed; the line goes idle when fewer were waiting.
    auto readAtLineSpeed = [&](int64_t t) {
        const int64_t wanted = std::min<int64_t>((t - lineFreeAt) / kByteNs, 4096);
        int waiting = 0;
        if (::ioctl(master, FIONREAD, &waiting) == 0)
            largestBacklog = std::max<int64_t>(largestBacklog, waiting);
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, static_cast<size_t>(wanted));
        if (n > 0) {
            received(n, lineFreeAt + kByteNs, kByteNs);
            lineFreeAt += n * kByteNs;
        }
        if (n < wanted) {
            lineBusy = false;
            idleSince = t;
        }
    };
    auto stopNow = [&](int64_t t) {
        if (!stopAt) {
            stopAt = t;
            bytesAtStop = bytes;
        }
    };
    auto readOutput = [&](int64_t arrived) {
        char buffer[4096];
        const ssize_t n = ::read(outFd, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(outFd);
            outFd = -1;
            return;
        }
        output.append(buffer, static_cast<size_t>(n));
        if (!marker.empty() && !markerAt && output.find(marker) != std::string::npos) {
            markerAt = arrived;
            if (!signalWanted)
                stopNow(arrived);
        }
    };

    for (;;) {
        const int64_t t = now() - start;
        std::optional<int64_t> signalDue;
        if (!signalAt && signalAtNs)
            signalDue = *signalAtNs;
        if (!signalAt && signalAfterNs && !packets.empty())
            signalDue = packets.front() + *signalAfterNs;
        std::optional<int64_t> limitAt;
        if (stopAt && afterStopNs)
            limitAt = *stopAt + *afterStopNs;

        if (exitAt && (!lineSpeed || (!lineBusy && t - idleSince >= kQuietNs)))
            break;
        if (limitAt && t >= *limitAt) {
            if (!exitAt) {
                ::kill(pid, SIGKILL);
                killed = true;
            }
            break;
        }
        if (t >= timeoutNs) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (signalDue && t >= *signalDue) {
            if (sampleCpu)
                cpuAtSignal = cpuNs(pid);
            signalAt = now() - start;
            ::kill(pid, signalNumber);
            stopNow(*signalAt);
            continue;
        }
        if (cpuFromNs && !cpuFromAt && t >= *cpuFromNs) {
            cpuFrom = cpuNs(pid);
            cpuFromAt = now() - start;
            continue;
        }
        if (lineBusy && t >= lineFreeAt + kByteNs) {
            readAtLineSpeed(t);
            continue;
        }

        int64_t wakeAt = timeoutNs;
        auto wakeBy = [&wakeAt](std::optional<int64_t> due) {
            if (due)
                wakeAt = std::min(wakeAt, *due);
        };
        wakeBy(signalDue);
        wakeBy(limitAt);
        if (cpuFromNs && !cpuFromAt)
            wakeBy(cpuFromNs);
        if (lineBusy)
            wakeBy(lineFreeAt + kByteNs);
        else if (exitAt && lineSpeed)
            wakeBy(idleSince + kQuietNs);
        const int64_t waitNs = spin ? 0 : std::max<int64_t>(0, wakeAt - t);
        pollfd fds[3];
        nfds_t count = 0;
        int masterAt = -1;
        int pidAt = -1;
        int outAt = -1;
        if (!lineBusy) {
            masterAt = static_cast<int>(count);
            fds[count++] = {master, POLLIN, 0};
        }
        if (!exitAt) {
            pidAt = static_cast<int>(count);
            fds[count++] = {pidfd, POLLIN, 0};
        }
        if (outFd >= 0) {
            outAt = static_cast<int>(count);
            fds[count++] = {outFd, POLLIN, 0};
        }
        const timespec timeout{static_cast<time_t>(waitNs / 1'000'000'000), static_cast<long>(waitNs % 1'000'000'000)};
        const int ready = ::ppoll(fds, count, &timeout, nullptr);
        const int64_t woke = now() - start;
        if (ready < 0 && errno != EINTR)
            die("poll");
        if (ready <= 0)
            continue;
        if (masterAt >= 0 && (fds[masterAt].revents & POLLIN)) {
            if (lineSpeed) {
                lineFreeAt = std::max(lineFreeAt, woke);
                lineBusy = true;
            } else {
                readAtOnce(woke);
            }
        }
        if (outAt >= 0 && (fds[outAt].revents & (POLLIN | POLLHUP)))
            readOutput(woke);
        if (pidAt >= 0 && (fds[pidAt].revents & POLLIN)) {
            exitAt = woke;
            idleSince = std::max(idleSince, woke);
        }
    }

    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) < 0)
        die("wait4");
    if (timedOut)
        exitAt = now() - start;
    if (!lineSpeed) {
        readAtOnce(now() - start); // whatever was still on its way
    } else {
        // What never crossed the line before the probe gave up: counted, not
        // timed. The kernel hands it over in chunks, so read until it stops.
        char buffer[4096];
        for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 200) > 0;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytesLeft += n;
        }
    }
    while (outFd >= 0)
        readOutput(now() - start);

    std::string json = "{";
    appendList(json, "packets", packets);
    appendList(json, "cpu_at_packets", cpuAtPackets);
    appendNumber(json, "bytes", bytes);
    appendNumber(json, "last_byte", lastByteAt);
    appendNumber(json, "signal", signalAt);
    appendNumber(json, "marker", markerAt);
    appendNumber(json, "stop", stopAt);
    appendNumber(json, "bytes_after_stop", stopAt ? std::optional<int64_t>(bytes - bytesAtStop + bytesLeft) : std::nullopt);
    appendNumber(json, "bytes_left", bytesLeft);
    appendNumber(json, "largest_backlog", lineSpeed ? std::optional<int64_t>(largestBacklog) : std::nullopt);
    appendNumber(json, "exit", exitAt);
    appendNumber(json, "status", WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
    appendNumber(json, "user_ns", int64_t{usage.ru_utime.tv_sec} * 1'000'000'000 + usage.ru_utime.tv_usec * 1000);
    appendNumber(json, "sys_ns", int64_t{usage.ru_stime.tv_sec} * 1'000'000'000 + usage.ru_stime.tv_usec * 1000);
    appendNumber(json, "maxrss_kb", usage.ru_maxrss);
    appendNumber(json, "cpu_from", cpuFromAt);
    appendNumber(json, "cpu_from_ns", cpuFrom);
    appendNumber(json, "cpu_at_signal_ns", cpuAtSignal);
    json += "\"killed\":";
    json += killed ? "true" : "false";
    json += ",\"timed_out\":";
    json += timedOut ? "true" : "false";
    json += ",\"output\":";
    appendJsonString(json, output);
    json += "}\n";
    std::fputs(json.c_str(), stdout);
    return 0;
}
