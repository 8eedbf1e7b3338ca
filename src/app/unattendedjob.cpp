#include "app/unattendedjob.h"

#include "screen/screenplugin.h"

#include "app/commandline.h"
#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "macro/passresults.h"
#include "platform/portnumber.h"
#include "macro/runhost.h"
#include "platform/process.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

// A message of the program on standard error, on one line.
void printMessage(const QString &text)
{
    std::fprintf(stderr, "quillonemu: %s\n", qUtf8Printable(joinedLines(text)));
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
    void showMessage(const QString &text) override
    {
        printMessage(text);
        failed_ = true;
    }
    // EXIT: status 1 when the run had to say something (packets that never
    // reached the line).
    void exitProgram() override { terminateProcess(failed_ ? 1 : 0); }
    bool failed() const { return failed_; }

    RunScreen *screen() override { return &screen_; }
    LazyScreen screen_;

private:
    QString counter_ = QStringLiteral("0");
    QString port_;
    bool failed_ = false;
};

} // namespace

int runUnattendedJob(int argc, char **argv, const StartSettings &start)
{
    QCoreApplication app(argc, argv);
    MacroSettings settings;
    settings.MacroFile = start.macroFile;
    settings.AddrFile = start.addrFile;
    UnattendedHost host(start.port.value_or(QStringLiteral("1")));
    EventLoopWaiter waiter;
    SerialLink link([&settings] { return settings.CommPort; }, &waiter);
    MacroRunner runner(settings, host, link, waiter);
    if (start.maxFailuresInARow) {
        const std::optional<qint32> most = parseWholeNumber(*start.maxFailuresInARow);
        if (!most || *most < 1) {
            printMessage(QStringLiteral("/F の値「%1」は 1 以上の整数ではありません。").arg(*start.maxFailuresInARow));
            return 1;
        }
        runner.setMaxFailuresInARow(*most);
    }
    // The results file given by /R is opened before anything is sent; a
    // row that cannot be written stops the job after the statement.
    PassResults results;
    if (start.results) {
        QString error;
        const bool opened = recordPasses(runner, results, *start.results, &error, [&](const QString &message) {
            host.showMessage(message);
            runner.RequestStop();
        });
        if (!opened) {
            printMessage(error);
            return 1;
        }
        host.screen_.setEvidenceFolder(QFileInfo(*start.results).absolutePath());
    }
    // The screen given by /S is opened before anything is sent.
    if (start.screen) {
        QString error;
        if (!host.screen_.openSource(*start.screen, &error)) {
            printMessage(error);
            return 1;
        }
    }
    // Like closing the window: the port is closed once what was handed to
    // the line has arrived, and the program ends, in the middle of a text
    // too.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &link, [&link] {
        if (!link.ClosePort()) {
            printMessage(link.errorText());
            terminateProcess(1);
        }
        terminateProcess(130);
    });
    // As quillonemu-cli run: 3 for a job that ran to its end with failed
    // passes.
    const MacroRunner::Outcome outcome = runner.RunMacro();
    if (outcome == MacroRunner::Outcome::Failed || runner.closeFailed() || host.failed())
        return 1;
    if (outcome == MacroRunner::Outcome::Stopped)
        return 130;
    return runner.passCounts().failed > 0 ? 3 : 0;
}
