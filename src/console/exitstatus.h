#pragma once

// The exit statuses of quillonemu-cli, the same for every command.
namespace ExitStatus {
constexpr int Ok = 0;
constexpr int Failed = 1;        // the job ended on an error
constexpr int Usage = 2;         // the command line was wrong
constexpr int PassesFailed = 3;  // the job ran to its end, but passes of it failed
constexpr int Interrupted = 130; // stopped by a signal (SIGINT, SIGTERM, SIGHUP, SIGPIPE)
} // namespace ExitStatus
