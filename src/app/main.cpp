// quillonemu: the main program. Starts the main window, runs the macro file
// the command line names before the window shows, and ends by closing the
// window, "終了(&X)", a macro's EXIT, SIGINT or SIGTERM, each with the port
// closed after every sent byte has left.

#include "app/frmmain.h"
#include "app/programinfo.h"
#include "app/unattendedjob.h"
#include "platform/desktop.h"
#include "platform/processcommandline.h"
#include "platform/terminationsignals.h"

#include <QApplication>
#include <cstdio>

namespace {

const char kUsage[] =
    "使い方: quillonemu [\"/Mマクロファイル\"] [\"/Aアドレスファイル\"] [\"/Pポート番号\"]\n"
    "        quillonemu --version | --help\n"
    "\n"
    "携帯電話機のキーを、シリアル回線（600 ボー、偶数パリティ、8 ビット、ストップビット 1）に\n"
    "キーパケットを書いて押します。\n"
    "\n"
    "  /M  マクロファイル。ウィンドウを表示する前に実行します（EXIT で終わるマクロなら\n"
    "      ウィンドウは表示されません）。\n"
    "  /A  アドレスファイル（GETSTR が 1 行ずつ読みます）。\n"
    "  /P  ポート番号（既定は 1）。ポート N のデバイスは環境変数 QUILLONEMU_COM<N> で\n"
    "      指定できます（既定は /dev/ttyS<N-1>）。\n"
    "スイッチと値は続けて書き、ひとつずつ二重引用符で囲みます。スイッチは大文字です。\n"
    "画面のない環境では QT_QPA_PLATFORM=offscreen を付けて起動してください。\n"
    "詳しくはヘルプの「目次」（help.mht）と man quillonemu を見てください。\n";

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

} // namespace

int main(int argc, char **argv)
{
    // Only as the first argument: everything else follows the /M /A /P rules.
    if (argc > 1 && qstrcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", qUtf8Printable(ProgramInfo::title()), qUtf8Printable(ProgramInfo::version()));
        return 0;
    }
    if (argc > 1 && qstrcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (displayMissing(argc, argv)) {
        std::fprintf(stderr, "quillonemu: 画面がありません (DISPLAY も WAYLAND_DISPLAY も未設定)。"
                             "EXIT で終わるマクロを画面なしで実行するには QT_QPA_PLATFORM=offscreen "
                             "を付けて起動してください。\n");
        return 1;
    }
    if (isUnattendedJob(argc, argv))
        return runUnattendedJob(argc, argv);

    QApplication app(argc, argv);
    installToolkitTranslations();
    QApplication::setWindowIcon(programIcon());
    QApplication::setFont(userInterfaceFont());

    frmMain window;
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &window, [&window] { window.Form_Unload(); });

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
