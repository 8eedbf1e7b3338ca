// quillonemu-bench-window: the main window in this process, set up as the
// program sets it up (application icon and font, frmMain), for the figures
// that need its controls:
//
//   run MACRO
//       Shows the main window, clicks cmdSend to run MACRO on port 1 (where
//       QUILLONEMU_COM1 points) and ends when the run has ended: the run as
//       a user at a desktop has it, for a probe to clock from outside.
//   stop-after MACRO MS
//       The same, and MS milliseconds after cmdSend it prints "stop" on
//       standard output and clicks cmdStop, so that a probe clocks what
//       still reaches the handset after the click.
//   stop MACRO [--tries N]
//       Runs MACRO (which must hold a SLEEP) N times against a
//       pseudo-terminal by clicking cmdSend; 200 ms into the SLEEP, when the
//       packets before it have crossed the line (the run's end lets them
//       finish), it clicks cmdStop (a mouse press and release delivered by
//       the event loop, as a user's click is) and clocks from the click to
//       the return of the run.
//   footprint
//       Opens the main window, then the keypad and the text entry window
//       through the menu, lets them settle and reports the peak resident
//       memory of the process (VmHWM).
//   screen-window SOURCE SECONDS MACRO
//       Opens SOURCE as the screen (/S) and measures for SECONDS each: the
//       process's CPU with the screen window closed, then shown (the frames
//       live), then shown during MACRO's run on port 1 (a screen wait that
//       never ends, say); the frames per second the window shows, and the
//       longest gap between the ticks of a 20 ms timer while it is shown.
//
// The result is one JSON object on standard output.

#include "app/frmmain.h"
#include "app/frmscreen.h"
#include "keypad/keypadwindows.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Kilobytes on the line of /proc/self/status that starts with `field`.
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Lets events run for `ms` milliseconds.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A press and a release in the middle of `button`, queued for the event loop.
void postClick(QPushButton *button)
{
    const QPointF centre = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(centre);
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}

// A desktop that ends no process and shows no message box.
struct QuietDesktop : ScreenDesktop {
    void showMessage(QWidget *, const QString &text) override
    {
        std::fprintf(stderr, "quillonemu-bench-window: %s\n", qUtf8Printable(text));
    }
    void endProgram() override {}
};

int runOnce(const QString &macro)
{
    QuietDesktop desktop;
    frmMain w(desktop);
    w.InitSettings(QStringLiteral(R"("/M%1" "/P1")").arg(macro));
    w.show();
    settle(100);
    w.cmdSend->click();
    return 0;
}

int runAndStop(const QString &macro, int afterMs)
{
    QuietDesktop desktop;
    frmMain w(desktop);
    w.InitSettings(QStringLiteral(R"("/M%1" "/P1")").arg(macro));
    w.show();
    settle(100);
    QTimer::singleShot(afterMs, &w, [&w] {
        std::fputs("stop\n", stdout);
        std::fflush(stdout);
        postClick(w.cmdStop);
    });
    w.cmdSend->click();
    return 0;
}

int stopLatency(const QString &macro, int tries)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    qputenv("QUILLONEMU_COM1", name);
    // The handset: takes whatever arrives.
    QSocketNotifier handset(master, QSocketNotifier::Read);
    QObject::connect(&handset, &QSocketNotifier::activated, [master] {
        char buffer[4096];
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    });

    QuietDesktop desktop;
    frmMain w(desktop);
    w.InitSettings(QStringLiteral(R"("/M%1" "/P1")").arg(macro));
    w.show();
    settle(100);

    QElapsedTimer clock;
    clock.start();
    qint64 clickedAt = -1;
    QList<qint64> latencies;
    int stopped = 0;
    QObject::connect(&w.runner(), &MacroRunner::statementStarted, &w, [&](qint64, const QString &keyword) {
        if (keyword != QLatin1String("SLEEP"))
            return;
        QTimer::singleShot(200, &w, [&] {
            clickedAt = clock.nsecsElapsed();
            postClick(w.cmdStop);
        });
    });
    // Connected after the window's own handler, so this runs when the run
    // started by the click has returned.
    QObject::connect(w.cmdSend, &QPushButton::clicked, &w, [&] {
        const qint64 returnedAt = clock.nsecsElapsed();
        if (clickedAt >= 0) {
            latencies.append(returnedAt - clickedAt);
            ++stopped;
        }
        clickedAt = -1;
    });
    for (int i = 0; i < tries; ++i)
        w.cmdSend->click();

    QByteArray json = "{\"stop_ns\":[";
    for (qsizetype i = 0; i < latencies.size(); ++i)
        json += (i > 0 ? "," : "") + QByteArray::number(latencies[i]);
    json += "],\"tries\":" + QByteArray::number(tries) + ",\"stopped\":" + QByteArray::number(stopped) + "}\n";
    std::fputs(json.constData(), stdout);
    ::close(master);
    ::close(slave);
    return stopped == tries ? 0 : 1;
}

int footprint()
{
    QuietDesktop desktop;
    frmMain w(desktop);
    w.Form_Load(QString());
    w.show();
    settle(200);
    const qint64 mainOnly = statusKb("VmHWM:");
    w.mnuKeyboard->trigger();
    settle(300);
    const bool open = w.keypad().keyboard() && w.keypad().keyboard()->isVisible() && w.keypad().input() &&
                      w.keypad().input()->isVisible();
    std::printf("{\"main_window_hwm_kb\":%lld,\"all_windows_hwm_kb\":%lld,\"rss_kb\":%lld,\"windows_open\":%s}\n",
                static_cast<long long>(mainOnly), static_cast<long long>(statusKb("VmHWM:")),
                static_cast<long long>(statusKb("VmRSS:")), open ? "true" : "false");
    return open ? 0 : 1;
}

// Milliseconds of CPU the process has used.
double cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

int screenWindow(const QString &source, int seconds, const QString &macro)
{
    QuietDesktop desktop;
    frmMain w(desktop);
    w.Form_Load(QStringLiteral(R"("/P1" "/S%1")").arg(source));
    w.show();
    settle(1000);
    QElapsedTimer clock;
    // The share of one core over `seconds` of `phase`, and the longest gap
    // between the ticks of a 20 ms timer meanwhile.
    auto measure = [&](const std::function<void()> &phase, qint64 *longestGap) {
        qint64 last = 0;
        *longestGap = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            *longestGap = std::max(*longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        const double before = cpuMs();
        clock.start();
        tick.start(20);
        phase();
        return 100.0 * (cpuMs() - before) / double(clock.elapsed());
    };
    const auto wait = [&] { settle(seconds * 1000); };
    qint64 hiddenGap = 0;
    qint64 shownGap = 0;
    qint64 runGap = 0;
    const double hidden = measure(wait, &hiddenGap);
    w.mnuScreen->trigger();
    frmScreen *window = w.screenWindow();
    settle(500);
    const double shown = measure(wait, &shownGap);
    const double shownFps = window->framesPerSecond();
    w.MacroFile = macro;
    QTimer::singleShot(seconds * 1000, &w, [&w] { w.runner().RequestStop(); });
    const double during = measure([&] { w.runner().RunMacro(); }, &runGap);
    const double runFps = window->framesPerSecond();
    std::printf("{\"hidden_cpu\":%.1f,\"shown_cpu\":%.1f,\"run_cpu\":%.1f,\"shown_fps\":%.1f,\"run_fps\":%.1f,"
                "\"frame\":\"%dx%d\",\"shown_gap_ms\":%lld,\"run_gap_ms\":%lld,\"hidden_gap_ms\":%lld}\n",
                hidden, shown, during, shownFps, runFps, window->picture->frame().width(),
                window->picture->frame().height(), static_cast<long long>(shownGap), static_cast<long long>(runGap),
                static_cast<long long>(hiddenGap));
    return window->picture->frame().isNull() ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Measured without a display, like the main program's unattended runs.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setWindowIcon(programIcon());
    QApplication::setFont(userInterfaceFont());

    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.value(0) == QLatin1String("run") && args.size() == 2)
        return runOnce(args[1]);
    if (args.value(0) == QLatin1String("stop-after") && args.size() == 3)
        return runAndStop(args[1], args[2].toInt());
    if (args.value(0) == QLatin1String("stop") && args.size() >= 2) {
        const int at = static_cast<int>(args.indexOf(QStringLiteral("--tries")));
        const int tries = at > 0 ? args.value(at + 1).toInt() : 20;
        return stopLatency(args[1], tries > 0 ? tries : 20);
    }
    if (args.value(0) == QLatin1String("footprint"))
        return footprint();
    if (args.value(0) == QLatin1String("screen-window") && args.size() == 4)
        return screenWindow(args[1], args[2].toInt(), args[3]);
    std::fprintf(stderr, "usage: quillonemu-bench-window run MACRO | stop-after MACRO MS | stop MACRO [--tries N] | footprint"
                         " | screen-window SOURCE SECONDS MACRO\n");
    return 2;
}
