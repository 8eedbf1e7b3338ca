// quillonemu: the main program. Starts the main window, runs the macro file
// the command line names before the window shows, and ends by closing the
// window, "終了(&X)", a macro's EXIT, SIGINT or SIGTERM, each with the port
// closed after every sent byte has left.

#include "app/commandline.h"
#include "app/display.h"
#include "app/frmmain.h"
#include "app/programinfo.h"
#include "app/unattendedjob.h"
#include "platform/process.h"
#include "platform/terminationsignals.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"

#include <QApplication>
#include <cstdio>

namespace {

const char kUsage[] =
    "使い方: quillonemu [\"/Mマクロファイル\"] [\"/Aアドレスファイル\"] [\"/Pポート番号\"] [\"/S取り込み元\"]\n"
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
    "  /S  画面の取り込み元（WAITIMAGE、WAITGONE、SNAPSHOT が見る画面）: camera、camera:番号、\n"
    "      camera:名前の一部、http://…、rtsp://…、動画ファイルか静止画のパス。開けなければ\n"
    "      パケットを送る前にそう表示します。\n"
    "  /H  携帯電話機の一覧（INI。1 台 1 セクション: [名前]、port=、screen=）。「実行」で\n"
    "      ジョブの巡を一覧のすべての携帯電話機に配り、その様子を別のウィンドウに表示します。\n"
    "スイッチと値は続けて書き、ひとつずつ二重引用符で囲みます。スイッチは大文字です。\n"
    "画面のない環境では QT_QPA_PLATFORM=offscreen を付けて起動してください。\n"
    "詳しくはヘルプの「目次」（help.mht）と man quillonemu を見てください。\n";

// The arguments after the program's name, as the shell passed them.
QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char **argv)
{
    useJapaneseSystemLocale();
    // Only as the first argument: everything else follows the /M /A /P rules.
    if (argc > 1 && qstrcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", qUtf8Printable(ProgramInfo::title()), qUtf8Printable(ProgramInfo::version()));
        return 0;
    }
    if (argc > 1 && qstrcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const DisplayKind display = displayFor(argc, argv);
    if (display == DisplayKind::Missing) {
        std::fprintf(stderr, "quillonemu: 画面がありません (DISPLAY も WAYLAND_DISPLAY も未設定)。"
                             "EXIT で終わるマクロを画面なしで実行するには QT_QPA_PLATFORM=offscreen "
                             "を付けて起動してください。\n");
        return 1;
    }
    const QString commandLine = processCommandLine(argumentsOf(argc, argv));
    const StartSettings start = startSettings(commandLine);
    // Offscreen nobody could see the window or answer its messages: a job
    // runs without it, and the program ends with the job.
    if (display == DisplayKind::Offscreen && !start.macroFile.isEmpty()) {
        if (start.handsets) {
            std::fprintf(stderr, "quillonemu: /H の携帯電話機の一覧のジョブは画面なしでは実行できません。"
                                 "quillonemu-cli run %s --handsets %s を使ってください。\n",
                         qUtf8Printable(start.macroFile), qUtf8Printable(*start.handsets));
            return 1;
        }
        return runUnattendedJob(argc, argv, start);
    }

    QApplication app(argc, argv);
    installToolkitTranslations();
    QApplication::setWindowIcon(programIcon());
    QApplication::setFont(userInterfaceFont());

    ScreenDesktop desktop;
    frmMain window(desktop);
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &window, [&window] { window.Form_Unload(); });
    window.Form_Load(commandLine);
    window.show();
    return QApplication::exec();
}
