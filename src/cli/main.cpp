// quillonemu-cli: QuillonEmu's companion for the terminal. The first argument
// names the command; the rest belongs to it.

#include "cli/commands.h"
#include "console/console.h"
#include "console/exitstatus.h"

#include <QCoreApplication>
#include "screen/screenplugin.h"

#include <cstdio>
#include <memory>

namespace {

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

const Command kCommands[] = {
    {"handset", "仮想の携帯電話機: 受け取ったキーパケットを読み解いて表示します", handsetCommand},
    {"run", "マクロファイルをウィンドウなしで実行します", runCommand},
    {"check", "マクロファイルを実行せずに調べ、誤りと 1 巡の時間を表示します", checkCommand},
    {"send", "キー名で指定したキーを押し、文字列を入力します", sendCommand},
    {"keypad", "端末をキーボードにしてキーを押します。送ったものをマクロに記録できます", keypadCommand},
    {"slurm", "ジョブの巡を Slurm のタスクに分け、研究室の携帯電話機で実行します", slurmCommand},
    {"screen", "画面の取り込み元: カメラの一覧、フレームの保存、画像の照合", ScreenPlugin::screenCommand},
};

void printOverview()
{
    Console::out(QStringLiteral("使い方: quillonemu-cli <コマンド> [引数...]\n\nコマンド:"));
    for (const Command &c : kCommands)
        Console::out(QStringLiteral("  %1  %2").arg(QString::fromLatin1(c.name).leftJustified(8),
                                                    QString::fromUtf8(c.summary)));
    Console::out(QStringLiteral("\n各コマンドの説明: quillonemu-cli <コマンド> --help\n"
                                "終了ステータスはコマンドごとに違います（各コマンドの --help を見てください）。\n"
                                "2 はどのコマンドでも使い方の誤りです。"));
}

} // namespace

// Whether the command draws pictures (the handset's model screen), which
// needs the GUI library's fonts and painting, without any window.
bool drawsPictures(int argc, char *argv[])
{
    if (argc < 2 || qstrcmp(argv[1], "handset") != 0)
        return false;
    for (int i = 2; i < argc; ++i) {
        if (qstrncmp(argv[i], "--screen-", 9) == 0)
            return true;
    }
    return false;
}

int main(int argc, char *argv[])
{
    std::unique_ptr<QCoreApplication> application;
    if (drawsPictures(argc, argv)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QString error;
        application = ScreenPlugin::guiApplication(argc, argv, &error);
        if (!application) {
            std::fprintf(stderr, "quillonemu-cli handset: %s\n", qUtf8Printable(error));
            return 1;
        }
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("quillonemu-cli"));
    const QStringList arguments = QCoreApplication::arguments().mid(1);

    const QString name = arguments.value(0);
    if (name == QLatin1String("-h") || name == QLatin1String("--help") || name == QLatin1String("help")) {
        printOverview();
        return ExitStatus::Ok;
    }
    for (const Command &c : kCommands) {
        if (name == QLatin1String(c.name))
            return c.run(arguments.mid(1));
    }
    if (name.isEmpty())
        Console::report(QString(), QStringLiteral("コマンドがありません。"));
    else
        Console::report(QString(), QStringLiteral("不明なコマンド「%1」です。").arg(name));
    Console::err(QStringLiteral("使い方は quillonemu-cli --help で表示されます。"));
    return ExitStatus::Usage;
}
