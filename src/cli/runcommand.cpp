// quillonemu-cli run: a macro run without a window, by the same MacroRunner
// as the main window's.

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exitstatus.h"
#include "cli/runlog.h"
#include "cli/terminalhost.h"
#include "link/seriallink.h"
#include "macro/amounts.h"
#include "macro/filelines.h"
#include "macro/jobestimate.h"
#include "macro/jobprogress.h"
#include "macro/macrorunner.h"
#include "platform/portnumber.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"
#include "screen/screenplugin.h"

#include <QFileInfo>

#include <QDateTime>
#include <QElapsedTimer>

namespace {

const QString kCommand = QStringLiteral("run");

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli run マクロファイル [オプション...]\n"
    "\n"
    "マクロファイルをウィンドウなしで実行します。メインウィンドウの実行と同じ動作です。\n"
    "進み具合（カウンタ、行番号とキーワード、入力中の文字列）を標準出力に表示します\n"
    "（端末なら 1 行を書き換え、そうでなければ 1 文ごとに 1 行）。REPEAT で繰り返す\n"
    "マクロでは仕事の進み具合も表示します: アドレスファイルがあれば、カウンタと、その行で\n"
    "足りる巡を終えたときのカウンタ（カウンタ 3/1,000）、済んだ割合、そして 1 巡目が\n"
    "終わってからは、この実行で計った巡の長さから見積もった終了予定の時刻と残り時間。\n"
    "アドレスファイルがなければ、カウンタと 1 時間あたりの巡の数です。端末でなければ\n"
    "1 巡ごとに 1 行で表示します。\n"
    "アドレスファイルの行が尽きると、仕事はすべて済んでいます: 巡の最初の GETSTR が\n"
    "ファイルの終わりに当たったら、マクロの終わりと同じく終わります。巡の途中の GETSTR が\n"
    "行を読めないときは、その巡が足りないのでエラーです。\n"
    "終わったとき（マクロの終わり、停止、エラー、EXIT）には終わり方とカウンタに続けて、\n"
    "この実行で済んだ巡の数、送ったパケットの数とかかった時間を 1 行で表示します。\n"
    "エラーは check と同じく「ファイル:行: error: 説明」の形で標準エラー出力に出ます\n"
    "（行番号は空行も数えたファイルの行、説明はメッセージボックスと同じ文）。\n"
    "\n"
    "オプション:\n"
    "  --addr ファイル    アドレスファイル（Shift-JIS）。GETSTR が 1 行ずつ読みます。\n"
    "  --port 番号        ポート番号（既定 1）。デバイスは QUILLONEMU_COM<番号> で指定できます。\n"
    "  --counter 数       カウンタの初期値（既定 0）。アドレスファイルのこの行数分を読み飛ばします。\n"
    "  --log ファイル     送ったパケットを 1 個ごとに JSON で 1 行ずつ追記します\n"
    "                     （\"event\":\"packet\"、時刻、カウンタ、行番号、キーワード、バイト列）。\n"
    "                     REPEAT で巡が済むごとにも 1 行（\"event\":\"pass\"、カウンタ、時刻、\n"
    "                     巡の秒数、その巡のパケット数）。画面の文ごとにも 1 行\n"
    "                     （\"event\":\"screen\"、画像か文字列、見つかったか、類似度と位置か\n"
    "                     読めた文字、待った秒数、フレーム数）。待ちが時間切れになったときの\n"
    "                     証拠の画像もこのファイルのフォルダに保存します（なければ一時フォルダ）。\n"
    "                     ポートが途中で使えなくなり、届いたことが確かでないパケットがあれば、\n"
    "                     最後に 1 行（\"event\":\"delivery\"、送ったパケット数、届いたことが\n"
    "                     確かな数、再開するカウンタ）。\n"
    "                     開けなければ実行しません。実行中に書けなくなったら、\n"
    "                     実行中の文を終えて止め、終了ステータス 1 です。\n"
    "  --screen 取り込み元 画面の取り込み元（WAITIMAGE、WAITGONE、SNAPSHOT、WAITTEXT、READTEXT\n"
    "                     が見る画面）:\n"
    "                     camera、camera:番号、camera:名前の一部、http://…、https://…、\n"
    "                     rtsp://…、動画ファイルか静止画（.png .jpg .bmp）のパス。\n"
    "                     開けなければ、パケットを送る前にエラーで終わります。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "Ctrl-C（SIGINT）で、また出力の読み手が終わったとき（| head など）にも停止します。\n"
    "実行中の文を終え、送ったバイトをすべて届けてから、終わったときのカウンタを\n"
    "表示します。--counter にその値を付けて実行し直すと続きから再開できます。\n"
    "2 回目の Ctrl-C と SIGTERM、SIGHUP では、長い文字列の途中でもパケットの切れ目で\n"
    "すぐに止まります（回線に渡したパケットは届け、残りは送りません）。出力の読み手が\n"
    "終わっても文字列は途中で切らず、その出力にはそれ以上書きません。\n"
    "\n"
    "終了ステータス:\n"
    "  0    マクロの終わりかアドレスファイルの終わりまで実行したか、EXIT で終わり、\n"
    "       失敗した巡はなかった\n"
    "  1    エラーで終わった、ログか結果ファイルに書けなかった、またはパケットを届けきれずに\n"
    "       ポートを閉じた\n"
    "  2    使い方の誤り\n"
    "  3    終わりまで実行したが、失敗した巡があった（ONFAIL で回復して続けた巡）\n"
    "  130  シグナルで停止した");

// Where to go on from, after the counter to resume with: the address line
// the resumed run takes first when that is not plain from the counter, and
// what resuming does again.
QString resumeDetails(const MacroRunner &runner)
{
    const MacroRunner::ResumePoint point = runner.resumePoint();
    QString details;
    if (point.passesAgain > 0) {
        details += QStringLiteral("ポートが途中で使えなくなったため、パケットがすべて届いたことが確かな巡まで戻ります"
                                  "（この実行の最後の %1 巡はもう一度実行されます）。")
                       .arg(formatCount(point.passesAgain));
    }
    if (point.nextAddrLine) {
        if (point.typedAgainUpTo && point.passesAgain > 0) {
            details += QStringLiteral("アドレスファイルの %1 行目から入力します（%2 行目まで送りましたが、届いたことが"
                                      "確かでない分はもう一度入力されます）。")
                           .arg(formatCount(*point.nextAddrLine), formatCount(*point.typedAgainUpTo));
        } else if (point.typedAgainUpTo) {
            details += QStringLiteral("アドレスファイルの %1 行目から入力します（%2 行目までは入力済みですが、その巡が"
                                      "終わっていないため、もう一度入力されます）。")
                           .arg(formatCount(*point.nextAddrLine), formatCount(*point.typedAgainUpTo));
        } else if (point.counter != *point.nextAddrLine - 1 || point.counter != runner.counter()) {
            details += QStringLiteral("アドレスファイルの %1 行目から入力します。").arg(formatCount(*point.nextAddrLine));
        }
    }
    return details;
}

// The last words of a run, with the counter to resume from.
QString summary(MacroRunner::Outcome outcome, const MacroRunner &runner, const QString &addrPath)
{
    const qint32 counter = runner.counter();
    const QString resume = QString::number(runner.resumePoint().counter);
    const QString undelivered = runner.closeFailed() ? QStringLiteral("が、送ったパケットを届けきれませんでした") : QString();
    switch (outcome) {
    case MacroRunner::Outcome::Finished:
        if (runner.addressFileDone()) {
            return QStringLiteral("アドレスファイル「%1」の行をすべて入力して終わりました%3（カウンタ %2）。")
                .arg(addrPath, QString::number(counter), undelivered);
        }
        return QStringLiteral("マクロの終わりまで実行しました%2（カウンタ %1）。").arg(counter).arg(undelivered);
    case MacroRunner::Outcome::Exited:
        return QStringLiteral("EXIT で終わりました%2（カウンタ %1）。").arg(counter).arg(undelivered);
    case MacroRunner::Outcome::Stopped:
        return QStringLiteral("停止しました（カウンタ %1）。続きは --counter %2 で再開できます。").arg(counter).arg(resume) +
               resumeDetails(runner);
    case MacroRunner::Outcome::Failed:
    case MacroRunner::Outcome::NotStarted:
        break;
    }
    return QStringLiteral("エラーで終わりました（カウンタ %1）。直したあと --counter %2 で続きから再開できます。")
               .arg(counter)
               .arg(resume) +
           resumeDetails(runner);
}

// What this run did: "この実行: 3 巡、パケット 57 個、1 分 12 秒。" (the
// passes only for a macro that repeats). When the port failed with packets
// on the line, how many surely arrived.
QString runFigures(const MacroRunner &runner, bool repeats, double seconds)
{
    QString figures = QStringLiteral("この実行: ");
    if (repeats)
        figures += QStringLiteral("%1 巡、").arg(formatCount(runner.passesCompleted()));
    const qint64 sent = runner.packetsSent();
    const qint64 delivered = runner.packetsDelivered();
    if (delivered < sent) {
        return figures + QStringLiteral("届いたことが確かなパケット %1 個（ほかに送った %2 個は届いていない可能性があります）、%3。")
                             .arg(formatCount(delivered), formatCount(sent - delivered), formatDuration(seconds));
    }
    return figures + QStringLiteral("パケット %1 個、%2。").arg(formatCount(sent), formatDuration(seconds));
}

// The shape of the job a run starts: whether it repeats, and the counter it
// ends at when the address file sets that.
struct JobPlan {
    bool repeats = false;
    std::optional<qint64> endCounter;
    // The passes' worth of address lines the counter skips.
    std::optional<double> passesBefore;
};

// Read before the run starts; a file that cannot be read leaves the plan
// empty (the run itself then says why it cannot start).
JobPlan planJob(const MacroSettings &settings, qint32 counter)
{
    JobPlan plan;
    const FileLines macro = readFileLines(settings.MacroFile);
    const PassShape shape = passShape(macro.lines);
    plan.repeats = shape.repeats;
    if (!shape.repeats || shape.getStrs == 0 || settings.AddrFile.isEmpty())
        return plan;
    if (const std::optional<qint64> lines = countFileLines(settings.AddrFile)) {
        plan.endCounter = counter + passesAllowed(*lines, counter, shape.getStrs);
        plan.passesBefore = double(std::max<qint64>(0, counter)) / shape.getStrs;
    }
    return plan;
}

int exitStatus(MacroRunner::Outcome outcome, const MacroRunner &runner)
{
    // Packets that never reached the line make any end a failure.
    if (runner.closeFailed())
        return ExitStatus::Failed;
    switch (outcome) {
    case MacroRunner::Outcome::Finished:
    case MacroRunner::Outcome::Exited:
        return runner.passCounts().failed > 0 ? ExitStatus::PassesFailed : ExitStatus::Ok;
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
                     {QStringLiteral("log"), true},
                     {QStringLiteral("screen"), true}},
                    1, QStringLiteral("マクロファイルが指定されていません。"), &status);
    if (!args)
        return status;
    for (const QString &name : {QStringLiteral("port"), QStringLiteral("counter")}) {
        if (!wholeNumberOption(kCommand, *args, name, &status))
            return status;
    }
    if (args->has(QStringLiteral("addr")) && args->value(QStringLiteral("addr")).isEmpty())
        return usageError(kCommand, QStringLiteral("--addr のファイル名が空です。"));

    MacroSettings settings;
    settings.MacroFile = args->positional.first();
    settings.AddrFile = args->value(QStringLiteral("addr"));
    const QString counterText = args->value(QStringLiteral("counter"), QStringLiteral("0"));
    TerminalHost host(counterText, args->value(QStringLiteral("port"), QStringLiteral("1")));
    EventLoopWaiter waiter;
    SerialLink link([&settings] { return settings.CommPort; }, &waiter);
    MacroRunner runner(settings, host, link, waiter);

    // The screen: a source given here is opened before anything is sent.
    LazyScreen screen;
    host.setScreen(&screen);
    if (args->has(QStringLiteral("screen"))) {
        QString error;
        if (!screen.openSource(args->value(QStringLiteral("screen")), &error)) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
    }
    if (args->has(QStringLiteral("log")))
        screen.setEvidenceFolder(QFileInfo(args->value(QStringLiteral("log"))).absolutePath());

    // The log the user asked for: one that cannot be opened stops the run
    // before it starts; one that cannot be written stops it after the
    // statement in progress, and the run fails.
    RunLog log;
    bool logFailed = false;
    if (args->has(QStringLiteral("log"))) {
        if (!log.open(args->value(QStringLiteral("log")))) {
            Console::report(kCommand, log.errorText());
            return ExitStatus::Failed;
        }
        log.follow(runner, link);
        QObject::connect(&log, &RunLog::writeFailed, &runner, [&](const QString &message) {
            logFailed = true;
            host.showMessage(message + QStringLiteral("\n実行中の文を終えたところで止めます。"));
            runner.RequestStop();
        });
    }

    // Signals reach the run through the event loop that its waits, and its
    // pauses for the line, keep turning. Ctrl-C and a reader that goes away
    // are the stop button; SIGTERM, SIGHUP and a second Ctrl-C cannot wait
    // for a long text to finish. Only the user's own second Ctrl-C counts as
    // one: a reader that went away may raise SIGPIPE more than once.
    TerminationSignals terminations;
    bool interrupted = false;
    QObject::connect(&terminations, &TerminationSignals::received, &runner,
                     [&runner, &interrupted](TerminationSignals::Kind kind) {
                         using Kind = TerminationSignals::Kind;
                         if (kind == Kind::Terminate || (kind == Kind::Interrupt && interrupted)) {
                             runner.StopAtOnce();
                             return;
                         }
                         interrupted = interrupted || kind == Kind::Interrupt;
                         runner.RequestStop();
                     });

    // A job that repeats shows how far it has come.
    QElapsedTimer runTime;
    runTime.start();
    const qint32 counter = *parseWholeNumber(counterText);
    const JobPlan plan = planJob(settings, counter);
    JobProgress progress(counter, plan.endCounter, plan.passesBefore);
    if (plan.repeats) {
        host.setProgress(&progress);
        QObject::connect(&runner, &MacroRunner::passCompleted, &runner,
                         [&progress, &host](qint32 passCounter, double passMs, qint64 packets) {
                             progress.passCompleted(passCounter, passMs, packets,
                                                    double(QDateTime::currentMSecsSinceEpoch()));
                             host.passCompleted(passMs);
                         });
    }

    const MacroRunner::Outcome outcome = runner.RunMacro();
    host.endStatusLine();
    if (runner.packetsDelivered() < runner.packetsSent())
        log.writeDelivery(runner);
    if (!log.close()) {
        Console::report(kCommand, log.errorText());
        logFailed = true;
    }
    Console::out(summary(outcome, runner, settings.AddrFile) +
                 runFigures(runner, plan.repeats, double(runTime.elapsed()) / 1000.0));
    return logFailed ? ExitStatus::Failed : exitStatus(outcome, runner);
}
