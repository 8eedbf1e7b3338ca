#pragma once

#include <QString>

// The settings a run shares with the window that starts it: the files, the
// port number and the run flag. The main window holds them for the life of
// the program; a headless front end holds its own.
struct MacroSettings {
    // Path of the macro file; empty means none. Read at run start and again
    // at every REPEAT.
    QString MacroFile;
    // Path of the address file; empty means none.
    QString AddrFile;
    // Port number as text, turned into a number only when the port opens.
    QString CommPort;
    // False until the first run; True while a run goes on and after it;
    // False during a run once a stop was requested.
    bool MacroExe = false;
};
