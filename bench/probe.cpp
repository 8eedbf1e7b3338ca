// quillonemu-bench-probe: starts one program with port 1 pointed at a fresh
// pseudo-terminal and clocks what it does, as seen from outside:
//
//   - the arrival of every ten-byte packet at the master side (the time the
//     first byte of the packet was read), on CLOCK_MONOTONIC, by a reader
//     that blocks in poll() on the master and reads at once when it wakes;
//   - optionally a SIGINT sent a given time after the first packet;
//   - the first time standard output holds a given text;
//   - the end of the process (its pidfd becomes readable), its exit status,
//     user and system CPU time, and peak resident memory (wait4);
//   - optionally the CPU time the process had used when each packet arrived
//     (summed over its threads from /proc, in nanoseconds where the kernel
//     keeps scheduler statistics).
//
// With --spin the probe never sleeps: it polls in a tight loop, so that its
// own wake-up (which on a virtual machine can take a good part of a
// millisecond) does not add to the times. It then keeps one core busy.
//
// Every time is in nanoseconds since the moment just before the program was
// started. The result is one JSON object on standard output; the program's
// own standard error passes through.
//
//   quillonemu-bench-probe [--sigint-after MS] [--marker TEXT] [--cpu] [--spin]
//                          [--timeout S] [--env NAME=VALUE]... -- PROGRAM [ARGS...]
//
// Plain POSIX and no Qt, so the probe itself stays small and quick.

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
    std::fprintf(stderr, "usage: quillonemu-bench-probe [--sigint-after MS] [--marker TEXT] [--cpu] [--spin] [--timeout S] "
                         "[--env NAME=VALUE]... -- PROGRAM [ARGS...]\n");
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
    std::optional<int64_t> sigintAfterNs;
    std::string marker;
    bool sampleCpu = false;
    bool spin = false;
    int64_t timeoutNs = int64_t{120} * 1'000'000'000;
    std::vector<std::string> extraEnv;
    int first = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--") {
            first = i + 1;
            break;
        } else if (arg == "--sigint-after" && hasValue) {
            sigintAfterNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e6);
        } else if (arg == "--marker" && hasValue) {
            marker = argv[++i];
        } else if (arg == "--cpu") {
            sampleCpu = true;
        } else if (arg == "--spin") {
            spin = true;
        } else if (arg == "--timeout" && hasValue) {
            timeoutNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e9);
        } else if (arg == "--env" && hasValue) {
            extraEnv.emplace_back(argv[++i]);
        } else {
            usage();
        }
    }
    if (first < 0 || first >= argc)
        usage();

    // The handset's side of the line. The probe keeps the slave open too, so
    // the line stays up while the program opens and closes its port.
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

    const int64_t start = now();
    pid_t pid = 0;
    if (const int error = ::posix_spawnp(&pid, argv[first], &actions, nullptr, argv + first, env.data()); error != 0) {
        errno = error;
        die(std::string("cannot start ") + argv[first]);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        die("pidfd_open");

    std::vector<int64_t> packets;
    std::vector<int64_t> cpuAtPackets;
    int64_t bytes = 0;
    std::optional<int64_t> sigintAt;
    std::optional<int64_t> markerAt;
    std::optional<int64_t> exitAt;
    bool timedOut = false;
    std::string output;
    int outFd = out[0];

    auto readMaster = [&](int64_t arrived) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i, ++bytes) {
                if (bytes % kPacketSize == 0) {
                    packets.push_back(arrived);
                    if (sampleCpu)
                        cpuAtPackets.push_back(cpuNs(pid));
                }
            }
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
        if (!marker.empty() && !markerAt && output.find(marker) != std::string::npos)
            markerAt = arrived;
    };

    while (!exitAt) {
        int64_t wakeAt = start + timeoutNs;
        if (sigintAfterNs && !sigintAt && !packets.empty())
            wakeAt = std::min(wakeAt, start + packets.front() + *sigintAfterNs);
        const int64_t waitNs = spin ? 0 : wakeAt - now();
        pollfd fds[3] = {{master, POLLIN, 0}, {pidfd, POLLIN, 0}, {outFd, POLLIN, 0}};
        const timespec timeout{static_cast<time_t>(std::max<int64_t>(0, waitNs) / 1'000'000'000),
                               static_cast<long>(std::max<int64_t>(0, waitNs) % 1'000'000'000)};
        const int ready = ::ppoll(fds, outFd >= 0 ? 3 : 2, &timeout, nullptr);
        const int64_t t = now();
        if (ready < 0 && errno != EINTR)
            die("poll");
        if (ready > 0) {
            if (fds[0].revents & POLLIN)
                readMaster(t - start);
            if (outFd >= 0 && (fds[2].revents & (POLLIN | POLLHUP)))
                readOutput(t - start);
            if (fds[1].revents & POLLIN)
                exitAt = t - start;
            continue;
        }
        if (sigintAfterNs && !sigintAt && !packets.empty() && t >= start + packets.front() + *sigintAfterNs) {
            sigintAt = now() - start;
            ::kill(pid, SIGINT);
            continue;
        }
        if (t >= start + timeoutNs) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
    }

    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) < 0)
        die("wait4");
    if (!exitAt)
        exitAt = now() - start;
    readMaster(now() - start); // whatever was still on its way
    while (outFd >= 0)
        readOutput(now() - start);

    std::string json = "{";
    appendList(json, "packets", packets);
    appendList(json, "cpu_at_packets", cpuAtPackets);
    appendNumber(json, "bytes", bytes);
    appendNumber(json, "sigint", sigintAt);
    appendNumber(json, "marker", markerAt);
    appendNumber(json, "exit", exitAt);
    appendNumber(json, "status", WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
    appendNumber(json, "user_ns", int64_t{usage.ru_utime.tv_sec} * 1'000'000'000 + usage.ru_utime.tv_usec * 1000);
    appendNumber(json, "sys_ns", int64_t{usage.ru_stime.tv_sec} * 1'000'000'000 + usage.ru_stime.tv_usec * 1000);
    appendNumber(json, "maxrss_kb", usage.ru_maxrss);
    json += "\"timed_out\":";
    json += timedOut ? "true" : "false";
    json += ",\"output\":";
    appendJsonString(json, output);
    json += "}\n";
    std::fputs(json.c_str(), stdout);
    return 0;
}
