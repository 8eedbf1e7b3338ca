// quillonemu-cli run: a macro run without a window, by the same MacroRunner
// as the main window's.

#include "console/arguments.h"
#include "cli/commands.h"
#include "cli/handsetsrun.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "cli/runlog.h"
#include "cli/slurmhandset.h"
#include "cli/terminalhost.h"
#include "link/seriallink.h"
#include "macro/amounts.h"
#include "macro/filelines.h"
#include "macro/jobestimate.h"
#include "macro/jobprogress.h"
#include "macro/macrorunner.h"
#include "macro/passdealer.h"
#include "macro/passresults.h"
#include "macro/recovery.h"
#include "platform/portnumber.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"
#include "screen/screenplugin.h"

#include <QFileInfo>

#include <QDateTime>
#include <QElapsedTimer>
#include <QSet>
#include <algorithm>

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
    "                     （\"event\":\"packet\"、時刻、カウンタ、マクロファイルの行番号、キーワード、\n"
    "                     バイト列）。\n"
    "                     REPEAT で巡が済むごとにも 1 行（\"event\":\"pass\"、カウンタ、時刻、\n"
    "                     巡の秒数、パケット数、結果）。画面の文ごとにも 1 行\n"
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
    "  --results ファイル 結果ファイル（CSV、UTF-8、BOM 付き）。巡が終わるたびに 1 行を書き足し、\n"
    "                     ディスクまで書き込みます: 巡のカウンタ、アドレスファイルの行番号、入力した\n"
    "                     アドレス、結果（ok、failed、ok-after-retry、stopped、not-delivered）、\n"
    "                     試した回数、失敗した「ファイル:行」とキーワード、メッセージ、証拠の画像、\n"
    "                     開始時刻、秒数、パケット数。開けなければ実行せず、実行中に書けなく\n"
    "                     なったら実行中の文を終えて止め、終了ステータス 1 です。\n"
    "  --junit ファイル   同じ結果を JUnit XML で、終わったとき（停止やエラーでも）に書きます。\n"
    "  --resume ファイル  前の実行の結果ファイルを読み、ok でない巡（失敗、停止、届いたことが\n"
    "                     確かでない、まだ実行していない巡）だけを実行して、同じファイルに\n"
    "                     書き足します。マクロ、回復マクロ、アドレスファイルの内容が違えば\n"
    "                     何も送らずに終わります。\n"
    "  --passes 開始-終了 ジョブのこの巡だけを実行します（1 から数えた巡の番号。巡 k はアドレス\n"
    "                     ファイルの k 巡目の行、1 巡に GETSTR が 2 つなら 2k-1 行目と 2k 行目）。\n"
    "                     「101-」は 101 巡目から最後まで、「7」は 7 巡目だけ。カウンタは巡の番号\n"
    "                     − 1 です。--resume と合わせると、その範囲で ok でない巡だけを実行します。\n"
    "                     --counter とは合わせられません。\n"
    "  --handsets ファイル 携帯電話機の一覧（INI。1 台 1 セクション: [名前]、port=、screen=）。\n"
    "                     ジョブの巡を空いている携帯電話機に 1 巡ずつ配ります。1 台が抜けても\n"
    "                     （ポート、画面、回復の失敗）、その巡はほかの携帯電話機が実行します。\n"
    "                     --port、--screen、--counter とは合わせられません。docs/jobs.md を見てください。\n"
    "  --use 名前,名前    --handsets の一覧のうち、この携帯電話機だけを使います。\n"
    "  --max-failures-in-a-row 数\n"
    "                     回復マクロ（ONFAIL）のあるジョブで、続けてこの数の巡が失敗したら\n"
    "                     止めます（既定 5）。\n"
    "  --handset-from-slurm\n"
    "                     Slurm のタスクとして、Slurm が割り当てた携帯電話機（GRES handset）の\n"
    "                     ポートと画面を、このノードの一覧ファイル（--handsets、既定\n"
    "                     /etc/quillonemu/handsets.ini）からデバイスファイルで探して使います\n"
    "                     （docs/lab.md）。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "マクロの ONFAIL 回復マクロ [RETRY 回数] は、巡の画面の待ち（WAITIMAGE、WAITGONE、\n"
    "WAITTEXT、READTEXT）が時間切れになったとき、その巡を失敗として記録し、回復マクロで\n"
    "携帯電話機を巡の始めの状態に戻してから、RETRY があればその巡をやり直し、なければ次の\n"
    "巡に進みます。詳しくは docs/jobs.md を見てください。\n"
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

// "--passes 5-10", the passes of a slice from `firstCounter` on.
QString passesOption(qint32 firstCounter, std::optional<qint32> lastCounter)
{
    return QStringLiteral("--passes %1-%2")
        .arg(qint64(firstCounter) + 1)
        .arg(lastCounter ? QString::number(qint64(*lastCounter) + 1) : QString());
}

// The last words of a run of a slice of the job (--passes), with how to
// resume it.
QString sliceSummary(MacroRunner::Outcome outcome, const MacroRunner &runner, const PassRange &range,
                     const QString &resultsPath)
{
    const QString all = passesOption(range.firstCounter, range.lastCounter).mid(9);
    if ((outcome == MacroRunner::Outcome::Finished && (runner.passesDone() || runner.addressFileDone())) ||
        outcome == MacroRunner::Outcome::Exited) {
        return QStringLiteral("巡 %1 を実行して終わりました%2（カウンタ %3）。")
            .arg(all, runner.closeFailed() ? QStringLiteral("が、送ったパケットを届けきれませんでした") : QString())
            .arg(runner.counter());
    }
    const QString resume = resultsPath.isEmpty()
                               ? passesOption(runner.resumePoint().counter, range.lastCounter)
                               : QStringLiteral("--resume %1 %2").arg(resultsPath, passesOption(range.firstCounter, range.lastCounter));
    const QString how = outcome == MacroRunner::Outcome::Stopped ? QStringLiteral("停止しました")
                                                                 : QStringLiteral("エラーで終わりました");
    QString text = QStringLiteral("%1（巡 %2 のうちカウンタ %3 の巡まで）。続きは %4 で再開できます。")
                       .arg(how, all)
                       .arg(runner.counter())
                       .arg(resume);
    if (const qint32 again = runner.resumePoint().passesAgain; again > 0 && resultsPath.isEmpty())
        text += QStringLiteral("ポートが途中で使えなくなったため、最後の %1 巡はもう一度実行されます。").arg(formatCount(again));
    return text;
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

// How the passes of this run ended, and where they are listed: "巡の結果:
// 成功 57、失敗 2、やり直して成功 1（結果ファイル「r.csv」）。" Only once a
// pass failed or a results file was asked for.
QString passFigures(const MacroRunner &runner, const QList<PassRecord> &records, const QString &resultsPath)
{
    const MacroRunner::PassCounts counts = runner.passCounts();
    if (resultsPath.isEmpty() && counts.failed == 0 && counts.okAfterRetry == 0)
        return QString();
    QString text = QStringLiteral("巡の結果: 成功 %1、失敗 %2、やり直して成功 %3")
                       .arg(formatCount(counts.ok), formatCount(counts.failed), formatCount(counts.okAfterRetry));
    const auto cut = std::count_if(records.begin(), records.end(), [](const PassRecord &r) {
        return r.result == PassRecord::Result::Stopped || r.result == PassRecord::Result::NotDelivered;
    });
    if (cut > 0)
        text += QStringLiteral("、途中で終わった巡 %1").arg(formatCount(cut));
    if (!resultsPath.isEmpty())
        text += QStringLiteral("（結果ファイル「%1」）").arg(resultsPath);
    return text + QStringLiteral("。");
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

// A slice of the job (--passes): the passes it deals out, within the job's
// own (those its address file allows), and its progress counted in passes
// of the slice from 0.
struct SlicePlan {
    std::optional<qint32> lastCounter;
    JobPlan plan;
};

std::optional<SlicePlan> planSlice(const MacroSettings &settings, const PassRange &range, const QSet<qint32> &done,
                                   QString *error)
{
    SlicePlan slice;
    slice.lastCounter = range.lastCounter;
    const FileLines macro = readFileLines(settings.MacroFile);
    const PassShape shape = passShape(macro.lines);
    slice.plan.repeats = shape.repeats;
    if (macro.opened && !macro.failed && !shape.repeats) {
        *error = QStringLiteral("マクロ「%1」は REPEAT で繰り返さないため、巡に分けられません（--passes は使えません）。")
                     .arg(settings.MacroFile);
        return std::nullopt;
    }
    if (shape.getStrs > 0 && !settings.AddrFile.isEmpty()) {
        if (const std::optional<qint64> lines = countFileLines(settings.AddrFile)) {
            const qint64 jobPasses = passesAllowed(*lines, 0, shape.getStrs);
            if (range.firstCounter >= jobPasses) {
                *error = QStringLiteral("--passes %1: このジョブは %2 巡です（アドレスファイル「%3」の %4 行、1 巡に %5 行）。"
                                        "何も送りませんでした。")
                             .arg(passesOption(range.firstCounter, range.lastCounter).mid(9), formatCount(jobPasses),
                                  settings.AddrFile, formatCount(*lines))
                             .arg(shape.getStrs);
                return std::nullopt;
            }
            const auto jobLast = static_cast<qint32>(jobPasses - 1);
            slice.lastCounter = range.lastCounter ? std::min(*range.lastCounter, jobLast) : jobLast;
        }
    }
    slice.plan.passesBefore = 0;
    if (slice.lastCounter) {
        qint64 before = 0;
        for (const qint32 counter : done)
            before += counter >= range.firstCounter && counter <= *slice.lastCounter ? 1 : 0;
        slice.plan.endCounter = qint64(*slice.lastCounter) - range.firstCounter + 1 - before;
        slice.plan.passesBefore = double(before);
    }
    return slice;
}

// run --handsets: the handsets file and the job's passes checked before the
// first packet, then the job on every handset.
int runHandsetsCommand(const Arguments &args, const MacroSettings &settings, const std::optional<PassRange> &slice,
                       const QSet<qint32> &donePasses, const QString &resultsPath)
{
    for (const char *name : {"port", "screen", "counter"}) {
        if (args.has(QLatin1String(name))) {
            return usageError(kCommand, QStringLiteral("--handsets と --%1 は合わせられません（携帯電話機の一覧が"
                                                       "ポートと画面を決め、巡は 1 巡ずつ配ります）。")
                                            .arg(QLatin1String(name)));
        }
    }
    QString error;
    const std::optional<HandsetsFile> file = HandsetsFile::read(args.value(QStringLiteral("handsets")), &error);
    std::optional<QList<HandsetEntry>> handsets;
    if (file)
        handsets = file->take(args.value(QStringLiteral("use")).split(u',', Qt::SkipEmptyParts), &error);
    if (!handsets) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    if (const QString problem = handsetsMacroProblem(settings.MacroFile); !problem.isEmpty()) {
        Console::err(problem);
        return ExitStatus::Failed;
    }
    const std::optional<SlicePlan> plan = planSlice(settings, slice.value_or(PassRange()), donePasses, &error);
    if (!plan) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    HandsetsRun run;
    run.settings = settings;
    run.handsets = *handsets;
    run.firstCounter = slice ? slice->firstCounter : 0;
    run.lastCounter = plan->lastCounter;
    run.donePasses = donePasses;
    run.repeats = plan->plan.repeats;
    if (args.has(QStringLiteral("max-failures-in-a-row"))) {
        const int most = args.value(QStringLiteral("max-failures-in-a-row")).toInt();
        if (most < 1)
            return usageError(kCommand, QStringLiteral("--max-failures-in-a-row は 1 以上の整数です。"));
        run.maxFailuresInARow = most;
    }
    return runOnHandsets(run, {resultsPath, args.value(QStringLiteral("junit")), args.value(QStringLiteral("log"))});
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
    std::optional<Arguments> args =
        openCommand(kCommand, kHelp, arguments,
                    {{QStringLiteral("addr"), true},
                     {QStringLiteral("port"), true},
                     {QStringLiteral("counter"), true},
                     {QStringLiteral("log"), true},
                     {QStringLiteral("screen"), true},
                     {QStringLiteral("results"), true},
                     {QStringLiteral("junit"), true},
                     {QStringLiteral("resume"), true},
                     {QStringLiteral("passes"), true},
                     {QStringLiteral("handsets"), true},
                     {QStringLiteral("use"), true},
                     {QStringLiteral("max-failures-in-a-row"), true},
                     {QStringLiteral("handset-from-slurm"), false}},
                    1, QStringLiteral("マクロファイルが指定されていません。"), &status);
    if (!args || !takeHandsetFromSlurm(kCommand, *args, &status))
        return status;
    for (const QString &name : {QStringLiteral("port"), QStringLiteral("counter"), QStringLiteral("max-failures-in-a-row")}) {
        if (!wholeNumberOption(kCommand, *args, name, &status))
            return status;
    }
    for (const char *name : {"results", "junit", "resume"}) {
        if (args->has(name) && args->value(name).isEmpty())
            return usageError(kCommand, QStringLiteral("--%1 のファイル名が空です。").arg(QLatin1String(name)));
    }
    if (args->has(QStringLiteral("resume")) && args->has(QStringLiteral("results")) &&
        QFileInfo(args->value(QStringLiteral("resume"))) != QFileInfo(args->value(QStringLiteral("results"))))
        return usageError(kCommand, QStringLiteral("--resume は同じ結果ファイルに書き足します。--results に別のファイルは指定できません。"));
    if (args->has(QStringLiteral("addr")) && args->value(QStringLiteral("addr")).isEmpty())
        return usageError(kCommand, QStringLiteral("--addr のファイル名が空です。"));
    // A slice of the job: its passes by number, whatever the counter.
    std::optional<PassRange> slice;
    if (args->has(QStringLiteral("passes"))) {
        if (args->has(QStringLiteral("counter")))
            return usageError(kCommand, QStringLiteral("--passes と --counter は合わせられません（--passes が巡を決めます）。"));
        QString error;
        slice = parsePassRange(args->value(QStringLiteral("passes")), &error);
        if (!slice)
            return usageError(kCommand, error);
    }

    MacroSettings settings;
    settings.MacroFile = args->positional.first();
    settings.AddrFile = args->value(QStringLiteral("addr"));

    // The record of the job: a results file to resume from must be this
    // job's (the same contents of the macro, its recovery and the address
    // file); nothing is sent otherwise.
    const QString resultsPath = args->value(QStringLiteral("resume"), args->value(QStringLiteral("results")));
    QSet<qint32> donePasses;
    std::optional<qint32> firstCounter;
    if (args->has(QStringLiteral("resume"))) {
        QString error;
        const std::optional<PassResults::Contents> earlier = PassResults::read(resultsPath, &error);
        if (!earlier) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
        const QString jobId =
            PassResults::jobId(settings.MacroFile, readRecoveryPlan(settings.MacroFile).path, settings.AddrFile);
        if (!earlier->rows.isEmpty() && earlier->jobId != jobId) {
            Console::report(kCommand, QStringLiteral("結果ファイル「%1」はこのジョブのものではありません（マクロ「%2」、回復マクロか"
                                                     "アドレスファイル「%3」の内容が、その結果を書いたジョブと違います）。"
                                                     "何も送りませんでした。")
                                          .arg(resultsPath, settings.MacroFile, settings.AddrFile));
            return ExitStatus::Failed;
        }
        for (const PassRecord &r : lastRowOfEachPass(earlier->rows)) {
            if (r.done())
                donePasses.insert(r.counter);
            firstCounter = firstCounter ? std::min(*firstCounter, r.counter) : r.counter;
        }
    }
    const QString counterText =
        args->value(QStringLiteral("counter"), firstCounter ? QString::number(std::max(0, *firstCounter)) : QStringLiteral("0"));
    if (args->has(QStringLiteral("handsets")))
        return runHandsetsCommand(*args, settings, slice, donePasses, resultsPath);
    if (args->has(QStringLiteral("use")))
        return usageError(kCommand, QStringLiteral("--use は --handsets と合わせて使います。"));

    TerminalHost host(slice ? QString::number(slice->firstCounter) : counterText,
                      args->value(QStringLiteral("port"), QStringLiteral("1")));
    EventLoopWaiter waiter;
    SerialLink link([&settings] { return settings.CommPort; }, &waiter);
    MacroRunner runner(settings, host, link, waiter);
    runner.setDonePasses(donePasses);
    std::optional<PassDealer> dealer;
    JobPlan plan;
    if (slice) {
        QString error;
        const std::optional<SlicePlan> slicePlan = planSlice(settings, *slice, donePasses, &error);
        if (!slicePlan) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
        plan = slicePlan->plan;
        dealer.emplace(slice->firstCounter, slicePlan->lastCounter, donePasses);
        runner.setPassSource([&dealer] { return dealer->take(0).counter; });
    }
    if (args->has(QStringLiteral("max-failures-in-a-row"))) {
        const int most = args->value(QStringLiteral("max-failures-in-a-row")).toInt();
        if (most < 1)
            return usageError(kCommand, QStringLiteral("--max-failures-in-a-row は 1 以上の整数です。"));
        runner.setMaxFailuresInARow(most);
    }

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
    // The evidence of failed waits beside the log, or else the results.
    if (args->has(QStringLiteral("log")))
        screen.setEvidenceFolder(QFileInfo(args->value(QStringLiteral("log"))).absolutePath());
    else if (!resultsPath.isEmpty())
        screen.setEvidenceFolder(QFileInfo(resultsPath).absolutePath());

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

    // The results: one that cannot be opened stops the run before it
    // starts; a row that cannot be written stops it after the statement in
    // progress, and the run fails. Without a results file the rows of this
    // run make the JUnit file.
    PassResults results;
    bool resultsFailed = false;
    QList<PassRecord> records;
    if (!resultsPath.isEmpty()) {
        QString error;
        const bool opened = recordPasses(runner, results, resultsPath, &error, [&](const QString &message) {
            resultsFailed = true;
            host.showMessage(message + QStringLiteral("\n実行中の文を終えたところで止めます。"));
            runner.RequestStop();
        });
        if (!opened) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
    }
    QObject::connect(&runner, &MacroRunner::passEnded, &runner,
                     [&records](const PassRecord &record) { records.append(record); });

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
    const qint32 counter = slice ? 0 : *parseWholeNumber(counterText);
    if (!slice)
        plan = planJob(settings, counter);
    JobProgress progress(counter, plan.endCounter, plan.passesBefore);
    qint64 slicePassesEnded = 0;
    QObject::connect(&runner, &MacroRunner::passEnded, &runner, [&progress](const PassRecord &record) {
        if (record.result == PassRecord::Result::Failed)
            progress.passFailed();
    });
    if (plan.repeats) {
        host.setProgress(&progress);
        QObject::connect(&runner, &MacroRunner::passCompleted, &runner,
                         [&](qint32 passCounter, double passMs, qint64 packets) {
                             // A slice's progress counts its passes.
                             progress.passCompleted(slice ? ++slicePassesEnded : passCounter, passMs, packets,
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
    results.close();
    if (args->has(QStringLiteral("junit"))) {
        // The whole job when a results file holds it, resumed or not.
        QList<PassRecord> rows = records;
        QString error;
        if (!resultsPath.isEmpty()) {
            if (const std::optional<PassResults::Contents> all = PassResults::read(resultsPath, &error))
                rows = all->rows;
        }
        if (!writeJUnit(args->value(QStringLiteral("junit")), QFileInfo(settings.MacroFile).completeBaseName(),
                        lastRowOfEachPass(rows), &error)) {
            Console::report(kCommand, error);
            resultsFailed = true;
        }
    }
    Console::out((slice ? sliceSummary(outcome, runner, *slice, resultsPath) : summary(outcome, runner, settings.AddrFile)) +
                 runFigures(runner, plan.repeats, double(runTime.elapsed()) / 1000.0) +
                 passFigures(runner, records, resultsPath));
    return logFailed || resultsFailed ? ExitStatus::Failed : exitStatus(outcome, runner);
}
