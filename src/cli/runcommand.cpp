// quillonemu-cli run: a macro run without a window, by the same MacroRunner
// as the main window's.

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exitstatus.h"
#include "cli/runlog.h"
#include "cli/terminalhost.h"
#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "platform/portnumber.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"

namespace {

const QString kCommand = QStringLiteral("run");

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli run マクロファイル [オプション...]\n"
    "\n"
    "マクロファイルをウィンドウなしで実行します。メインウィンドウの実行と同じ動作です。\n"
    "進み具合（カウンタ、行番号とキーワード、入力中の文字列）を標準出力に表示します\n"
    "（端末なら 1 行を書き換え、そうでなければ 1 文ごとに 1 行）。エラーは check と同じく\n"
    "「ファイル:行: error: 説明」の形で標準エラー出力に出ます（行番号は空行も数えた\n"
    "ファイルの行、説明はメッセージボックスと同じ文）。\n"
    "\n"
    "オプション:\n"
    "  --addr ファイル    アドレスファイル（Shift-JIS）。GETSTR が 1 行ずつ読みます。\n"
    "  --port 番号        ポート番号（既定 1）。デバイスは QUILLONEMU_COM<番号> で指定できます。\n"
    "  --counter 数       カウンタの初期値（既定 0）。アドレスファイルのこの行数分を読み飛ばします。\n"
    "  --log ファイル     送ったパケットを 1 個ごとに JSON で 1 行ずつ追記します\n"
    "                     （時刻、カウンタ、行番号、キーワード、バイト列）。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "Ctrl-C（SIGINT）で、また出力の読み手が終わったとき（| head など）にも停止します。\n"
    "実行中の文を終え、送ったバイトをすべて届けてから、終わったときのカウンタを\n"
    "表示します。--counter にその値を付けて実行し直すと続きから再開できます。\n"
    "2 回目の Ctrl-C と SIGTERM、SIGHUP では、長い文字列の途中でもパケットの切れ目で\n"
    "すぐに止まります（回線に渡したパケットは届け、残りは送りません）。\n"
    "\n"
    "終了ステータス:\n"
    "  0    マクロの終わりまで実行したか、EXIT で終わった\n"
    "  1    エラーで終わった\n"
    "  2    使い方の誤り\n"
    "  130  シグナルで停止した");

// The last words of a run, with the counter to resume from.
QString summary(MacroRunner::Outcome outcome, qint32 counter)
{
    switch (outcome) {
    case MacroRunner::Outcome::Finished:
        return QStringLiteral("マクロの終わりまで実行しました（カウンタ %1）。").arg(counter);
    case MacroRunner::Outcome::Exited:
        return QStringLiteral("EXIT で終わりました（カウンタ %1）。").arg(counter);
    case MacroRunner::Outcome::Stopped:
        return QStringLiteral("停止しました（カウンタ %1）。続きは --counter %1 で再開できます。").arg(counter);
    case MacroRunner::Outcome::Failed:
    case MacroRunner::Outcome::NotStarted:
        break;
    }
    return QStringLiteral("エラーで終わりました（カウンタ %1）。直したあと --counter %1 で続きから再開できます。").arg(counter);
}

int exitStatus(MacroRunner::Outcome outcome)
{
    switch (outcome) {
    case MacroRunner::Outcome::Finished:
    case MacroRunner::Outcome::Exited:
        return ExitStatus::Ok;
    case MacroRunner::Outcome::Stopped:
        return ExitStatus::Interrupted;
    case MacroRunner::Outcome::Failed:
    case MacroRunner::Outcome::NotStarted:
        break;
    }
    return ExitStatus::Failed;
}

} // namespace

int runCommand(const QStringList &arguments)
{
    int status = ExitStatus::Ok;
    const std::optional<Arguments> args =
        openCommand(kCommand, kHelp, arguments,
                    {{QStringLiteral("addr"), true},
                     {QStringLiteral("port"), true},
                     {QStringLiteral("counter"), true},
                     {QStringLiteral("log"), true}},
                    1, QStringLiteral("マクロファイルが指定されていません。"), &status);
    if (!args)
        return status;
    for (const QString &name : {QStringLiteral("port"), QStringLiteral("counter")}) {
        const QString value = args->value(name);
        if (args->has(name) && !parseWholeNumber(value))
            return usageError(kCommand, QStringLiteral("--%1 の値「%2」は整数ではありません。").arg(name, value));
    }
    if (args->has(QStringLiteral("addr")) && args->value(QStringLiteral("addr")).isEmpty())
        return usageError(kCommand, QStringLiteral("--addr のファイル名が空です。"));

    MacroSettings settings;
    settings.MacroFile = args->positional.first();
    settings.AddrFile = args->value(QStringLiteral("addr"));
    TerminalHost host(args->value(QStringLiteral("counter"), QStringLiteral("0")),
                      args->value(QStringLiteral("port"), QStringLiteral("1")));
    EventLoopWaiter waiter;
    SerialLink link([&settings] { return settings.CommPort; }, &waiter);
    MacroRunner runner(settings, host, link, waiter);

    RunLog log;
    if (args->has(QStringLiteral("log"))) {
        if (!log.open(args->value(QStringLiteral("log")))) {
            Console::report(kCommand, log.errorText());
            return ExitStatus::Failed;
        }
        log.follow(runner, link);
    }

    // Signals reach the run through the event loop that its waits, and its
    // pauses for the line, keep turning. Ctrl-C and a reader that goes away
    // are the stop button; SIGTERM, SIGHUP and a second Ctrl-C cannot wait
    // for a long text to finish.
    TerminationSignals terminations;
    bool stopRequested = false;
    QObject::connect(&terminations, &TerminationSignals::received, &runner,
                     [&runner, &stopRequested](TerminationSignals::Kind kind) {
                         if (kind == TerminationSignals::Kind::Terminate || stopRequested) {
                             runner.StopAtOnce();
                             return;
                         }
                         stopRequested = true;
                         runner.RequestStop();
                     });

    const MacroRunner::Outcome outcome = runner.RunMacro();
    host.endStatusLine();
    if (!log.close())
        Console::report(kCommand, log.errorText());
    Console::out(summary(outcome, runner.counter()));
    return exitStatus(outcome);
}
