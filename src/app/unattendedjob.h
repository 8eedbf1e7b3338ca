#pragma once

#include <QString>

struct StartSettings;

// A job started without a display (QT_QPA_PLATFORM=offscreen or minimal)
// whose command line names a macro file: nobody could see or use the main
// window, so the job runs without it, as the window would run it before
// showing (counter 0, port 1 unless /P gives one), in a fraction of the
// window's start-up time and memory. Messages go to standard error, on one
// line each.

// Runs it: 1 when the run failed, 3 when it ran to its end but passes
// failed (a recovery macro carried it on), 0 otherwise. EXIT ends the
// process at once, SIGINT, SIGTERM and SIGHUP with status 130, the port
// closed after every sent byte has crossed the line.
int runUnattendedJob(int argc, char **argv, const StartSettings &start);
