#include "app/unattendedjob.h"

#include "app/commandline.h"
#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "macro/runhost.h"
#include "platform/desktop.h"
#include "platform/processcommandline.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// The command line's arguments as text.
QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// The main window's settings as its command line leaves them: the files and
// the port box's text, which the run reads.
struct StartSettings {
    MacroSettings settings;
    QString port = QStringLiteral("1");
};

StartSettings startSettings(int argc, char **argv)
{
    StartSettings start;
    for (const CommandLineSwitch &s : parseCommandLineSwitches(trimSpaces(processCommandLine(argumentsOf(argc, argv))))) {
        if (s.letter == u'M')
            start.settings.MacroFile = s.value;
        else if (s.letter == u'A')
            start.settings.AddrFile = s.value;
        else if (s.letter == u'P')
            start.port = s.value;
    }
    return start;
}

// The main window's part in the job: the counter and port boxes as plain
// text, messages on standard error, EXIT ending the process.
class UnattendedHost : public RunHost {
public:
    explicit UnattendedHost(const QString &port) : port_(port) {}

    QString counterText() const override { return counter_; }
    void setCounterText(const QString &text) override { counter_ = text; }
    QString portText() const override { return port_; }
    void setPortText(const QString &text) override { port_ = text; }
    void setStatusText(const QString &) override {}
    void setAddrText(const QString &) override {}
    void setRunning(bool) override {}
    void showMessage(const QString &text) override { printMessage(text); }
    void exitProgram() override { terminateProcess(0); }

private:
    QString counter_ = QStringLiteral("0");
    QString port_;
};

} // namespace

void printMessage(const QString &text)
{
    std::fprintf(stderr, "quillonemu: %s\n", qUtf8Printable(QString(text).replace(u'\n', u' ')));
}

bool isUnattendedJob(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            return false;
    }
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM").split(':').value(0);
    return (platform == "offscreen" || platform == "minimal") && !startSettings(argc, argv).settings.MacroFile.isEmpty();
}

int runUnattendedJob(int argc, char **argv)
{
    StartSettings start = startSettings(argc, argv);
    QCoreApplication app(argc, argv);
    UnattendedHost host(start.port);
    EventLoopWaiter waiter;
    SerialLink link([&start] { return start.settings.CommPort; }, &waiter);
    MacroRunner runner(start.settings, host, link, waiter);
    // Like closing the window: the port is closed once what was handed to
    // the line has arrived, and the program ends, in the middle of a text
    // too.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &link, [&link] {
        if (!link.ClosePort())
            printMessage(link.errorText());
        terminateProcess(0);
    });
    return runner.RunMacro() == MacroRunner::Outcome::Failed ? 1 : 0;
}
