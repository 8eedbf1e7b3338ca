// quillonemu: the main program. Starts the main window, runs the macro file
// the command line names before the window shows, and ends by closing the
// window, "終了(&X)", a macro's EXIT, SIGINT or SIGTERM, each with the port
// closed after every sent byte has left.

#include "app/frmmain.h"
#include "platform/desktop.h"
#include "platform/processcommandline.h"
#include "platform/terminationsignals.h"

#include <QApplication>
#include <cstdio>

namespace {

// Without a display the toolkit would abort; say what to do instead.
bool displayMissing(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            return false;
    }
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return false;
#endif
}

// Offscreen nobody sees a window or can press OK.
bool nobodyWatches()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void printMessage(const QString &text)
{
    std::fprintf(stderr, "quillonemu: %s\n", qUtf8Printable(QString(text).replace(u'\n', u' ')));
}

} // namespace

int main(int argc, char **argv)
{
    if (displayMissing(argc, argv)) {
        std::fprintf(stderr, "quillonemu: 画面がありません (DISPLAY も WAYLAND_DISPLAY も未設定)。"
                             "EXIT で終わるマクロを画面なしで実行するには QT_QPA_PLATFORM=offscreen "
                             "を付けて起動してください。\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(programIcon());
    QApplication::setFont(userInterfaceFont());

    frmMain window;
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &window, &frmMain::Form_Unload);

    const bool unattended = nobodyWatches();
    if (unattended)
        window.messageBox = [](QWidget *, const QString &text) { printMessage(text); };

    const std::optional<MacroRunner::Outcome> outcome =
        window.Form_Load(processCommandLine(QCoreApplication::arguments().mid(1)));
    if (unattended && outcome) {
        // A job started without a display ends with its run: the window it
        // would show could not be used.
        return *outcome == MacroRunner::Outcome::Failed ? 1 : 0;
    }
    window.show();
    return QApplication::exec();
}
