#pragma once

#include "app/frmmain.h"
#include "recordingdesktop.h"

#include <QTemporaryDir>

// The main window on a recording desktop. The program's end records whether
// the port was still open, and ends the run as the process's end would. The
// frames a wait that runs out saves go to a folder of its own (not the
// system's temporary folder), removed with it.
struct MainWindow {
    RecordingDesktop desktop;
    QTemporaryDir evidence;
    frmMain w{desktop};
    bool portOpenAtEnd = true;

    MainWindow()
    {
        w.screenSession().setEvidenceFolder(evidence.path());
        desktop.onEnd = [this] {
            portOpenAtEnd = w.MSComm1.isOpen();
            w.runner().RequestStop();
        };
    }
    // The command line naming macro file `macro` and port `port`.
    void load(const QString &macro, int port) { w.InitSettings(QStringLiteral(R"("/M%1" "/P%2")").arg(macro).arg(port)); }
};
