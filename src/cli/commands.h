#pragma once

#include <QString>
#include <QStringList>

// The commands of quillonemu-cli. Each lives in its own file and takes the
// arguments after its name; it returns the exit status (see console/exitstatus.h).
// A new command is one more file and one more line in the table of main.cpp.

// The virtual handset (handsetcommand.cpp).
int handsetCommand(const QStringList &arguments);
// A macro run without a window (runcommand.cpp).
int runCommand(const QStringList &arguments);
// A macro file looked over without running it (checkcommand.cpp).
int checkCommand(const QStringList &arguments);
// Keys and text sent from the command line (sendcommand.cpp).
int sendCommand(const QStringList &arguments);
// The keypad in a terminal, with its recording (keypadcommand.cpp).
int keypadCommand(const QStringList &arguments);
// Picture sources (screen) live in the screen module: see
// screen/screencommand.h and ScreenPlugin::screenCommand.
// A job's passes as Slurm tasks across a lab's handsets (slurmcommand.cpp).
int slurmCommand(const QStringList &arguments);
