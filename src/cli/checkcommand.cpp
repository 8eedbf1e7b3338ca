// quillonemu-cli check: a macro file looked over before it runs, read the way
// the run reads it.

#include "console/arguments.h"
#include "screen/screenplugin.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "macro/amounts.h"
#include "macro/macrocheck.h"
#include "platform/portnumber.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kCommand = QStringLiteral("check");

// Warnings only; errors share the status of a usage error.
constexpr int kWarnings = 1;
constexpr int kErrors = 2;

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli check マクロファイル [--addr ファイル] [--counter 数] [--screen 取り込み元]\n"
    "\n"
    "マクロファイルを実行と同じ読み方（Shift-JIS、同じ改行、同じ語の区切りとキーワード）で\n"
    "読み、実行を止める誤り（error）と、書いたとおりに動かないおそれ（warning）を\n"
    "「ファイル:行: error|warning: 説明」の形で表示します。行番号はエディタと同じく空行も\n"
    "数えたファイルの行です（実行中の状態表示の行番号は空行を数えません）。\n"
    "続いて 1 巡（1 行目から REPEAT、EXIT またはファイルの終わりまで）の文の数、パケット数、\n"
    "待ち時間、600 ボーの回線での送信時間を表示します。\n"
    "最後に仕事全体（アドレスファイルの行で足りる巡の数と、その所要時間の見積もり）を\n"
    "表示します。所要時間は実行と同じ数え方です: 各文の待ち時間（0 秒や 0.01 秒未満でも\n"
    "0.01 秒、1 巡は最短 0.01 秒）と、回線の送信時間（1 パケット約 0.183 秒、SENDSTR の\n"
    "パケット数はアドレスの行ごと）のうち長いほうで進み、回線に渡したパケットが届き\n"
    "終わるまでです。画面待ち（WAITIMAGE、WAITGONE、WAITTEXT）は最長の秒数（時間切れまで）で数え、\n"
    "SLEEP の秒数に含めます。\n"
    "ファイルは読むだけで書き換えず、ポートには何も送りません。\n"
    "\n"
    "オプション:\n"
    "  --addr ファイル    アドレスファイル（Shift-JIS）。GETSTR に足りる行があるかと、\n"
    "                     SENDSTR が入力できない文字を調べます。\n"
    "  --counter 数       run と同じカウンタの初期値（既定 0）。アドレスファイルのこの行数分を\n"
    "                     読み飛ばし、1 巡目はその次の行から読みます。\n"
    "  --screen 取り込み元 run に --screen を付けて実行するときに付けます（開きはしません）。\n"
    "                     付けなければ、SCREEN より前の画面待ちと SNAPSHOT はエラーです。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "終了ステータス:\n"
    "  0  問題なし\n"
    "  1  警告だけ\n"
    "  2  エラーがある、または使い方の誤り");

QString diagnosticLine(const MacroDiagnostic &d)
{
    const QString where = d.line > 0 ? QStringLiteral("%1:%2").arg(d.file, QString::number(d.line)) : d.file;
    const QString level = d.level == MacroDiagnostic::Level::Error ? QStringLiteral("error") : QStringLiteral("warning");
    return QStringLiteral("%1: %2: %3").arg(where, level, d.message);
}

QString passRange(const PassSummary &pass)
{
    if (pass.endKeyword.isEmpty())
        return QStringLiteral("%1 行目からファイルの終わりの %2 行目まで").arg(pass.firstLine).arg(pass.lastLine);
    return QStringLiteral("%1 行目から %2 行目の %3 まで").arg(pass.firstLine).arg(pass.lastLine).arg(pass.endKeyword);
}

void printSummary(const PassSummary &pass)
{
    if (pass.statements == 0) {
        Console::out(QStringLiteral("1 巡: 文がありません。"));
        return;
    }
    Console::out(QStringLiteral("1 巡（%1）: 文 %2、パケット %3")
                     .arg(passRange(pass))
                     .arg(pass.statements)
                     .arg(pass.packets));
    Console::out(QStringLiteral("  待ち時間: %1 秒（基本待ち時間 %2 秒、SLEEP %3 秒）")
                     .arg(formatSeconds(pass.baseWaitSeconds + pass.sleepSeconds), formatSeconds(pass.baseWaitSeconds),
                          formatSeconds(pass.sleepSeconds)));
    Console::out(QStringLiteral("  送信時間: %1 秒（600 ボーの回線で 1 パケット約 %2 秒）")
                     .arg(formatSeconds(pass.wireSeconds), formatSeconds(kPacketWireSeconds)));
    if (pass.laterBaseWaitSeconds) {
        Console::out(QStringLiteral("  2 巡目からの待ち時間: %1 秒（基本待ち時間 %2 秒、SLEEP %3 秒）")
                         .arg(formatSeconds(*pass.laterBaseWaitSeconds + pass.sleepSeconds),
                              formatSeconds(*pass.laterBaseWaitSeconds), formatSeconds(pass.sleepSeconds)));
    }
}

// How the job goes, in words: the waits or the line.
QString governedBy(const JobEstimate &job)
{
    return job.wireSeconds > job.waitSeconds ? QStringLiteral("回線の送信時間のほうが長く、回線の速さで進みます。")
                                             : QStringLiteral("待ち時間のほうが長く、待ち時間で進みます。");
}

void printJob(const JobEstimate &job, const PassSummary &pass, const MacroCheck &check, qint64 counter)
{
    using Length = JobEstimate::Length;
    switch (job.length) {
    case Length::OnePass:
        Console::out(QStringLiteral("全体: 1 巡、約 %1（%2）")
                         .arg(formatDuration(job.seconds),
                              pass.endKeyword == QLatin1String("EXIT") ? QStringLiteral("EXIT で終わります")
                                                                       : QStringLiteral("REPEAT がないため 1 巡で終わります")));
        return;
    case Length::Endless:
        Console::out(QStringLiteral("全体: 止めるまで繰り返します（%1巡の数に終わりがありません）。")
                         .arg(job.getStrs == 0 ? QStringLiteral("GETSTR がないため、")
                                           : QStringLiteral("アドレスファイルが指定されていないため、")));
        Console::out(QStringLiteral("  1 巡 約 %1、1 時間に約 %2 巡。%3")
                         .arg(formatDuration(job.seconds), formatCount(std::llround(3600.0 / job.seconds)),
                              governedBy(job)));
        return;
    case Length::Counted:
        break;
    }
    const qint64 lines = check.addressLines.value_or(0);
    const qint64 endCounter = counter + job.passes;
    Console::out(QStringLiteral("全体（カウンタ %1 から）: %2 巡、約 %3")
                     .arg(formatCount(counter), formatCount(job.passes), formatDuration(job.seconds)));
    // The lines left after the last whole pass: none, and the next pass's
    // first GETSTR finds the end of the file, which ends the job as done;
    // some, and that pass lacks the rest of its lines.
    const qint64 leftOver = std::max<qint64>(0, lines - std::max<qint64>(0, counter) - job.passes * job.getStrs);
    const QString end =
        leftOver == 0
            ? QStringLiteral("その次の巡の最初の GETSTR でアドレスファイルが終わり、ジョブが終わります（カウンタ %1）。")
                  .arg(formatCount(endCounter))
            : QStringLiteral("その次の巡は GETSTR が %1 行目を読めず、エラーで終わります（カウンタ %2）。")
                  .arg(formatCount(lines + 1), formatCount(endCounter));
    Console::out(QStringLiteral("  アドレスファイル %1 行の %2 行目から 1 巡に %3 行ずつ読みます。")
                     .arg(formatCount(lines), formatCount(std::max<qint64>(0, counter) + 1), QString::number(job.getStrs)) +
                 end);
    if (job.passes > 0) {
        Console::out(QStringLiteral("  待ち時間 計 約 %1、送信時間 計 約 %2: %3")
                         .arg(formatDuration(job.waitSeconds), formatDuration(job.wireSeconds), governedBy(job)));
    }
}

} // namespace

int checkCommand(const QStringList &arguments)
{
    int status = ExitStatus::Ok;
    const std::optional<Arguments> args =
        openCommand(kCommand, kHelp, arguments,
                    {{QStringLiteral("addr"), true}, {QStringLiteral("counter"), true}, {QStringLiteral("screen"), true}}, 1,
                    QStringLiteral("マクロファイルが指定されていません。"), &status);
    if (!args)
        return status;
    if (args->has(QStringLiteral("addr")) && args->value(QStringLiteral("addr")).isEmpty())
        return usageError(kCommand, QStringLiteral("--addr のファイル名が空です。"));
    if (!wholeNumberOption(kCommand, *args, QStringLiteral("counter"), &status))
        return status;
    const std::optional<qint32> counter = parseWholeNumber(args->value(QStringLiteral("counter"), QStringLiteral("0")));

    // Templates are read as the run reads them.
    ScreenCheck screen;
    screen.sourceGiven = args->has(QStringLiteral("screen"));
    screen.templateProblem = ScreenPlugin::templateProblem;
    const MacroCheck check = checkMacro(args->positional.first(), args->value(QStringLiteral("addr")), *counter, screen);
    int errors = 0;
    for (const MacroDiagnostic &d : check.diagnostics) {
        Console::out(diagnosticLine(d));
        if (d.level == MacroDiagnostic::Level::Error)
            ++errors;
    }
    if (check.pass)
        printSummary(*check.pass);
    if (check.pass && check.screenWaits > 0) {
        Console::out(QStringLiteral("  画面待ち %1 個は、それぞれ最長の秒数（時間切れまで）で数え、SLEEP に含めています。")
                         .arg(check.screenWaits));
    }
    if (check.pass && check.job)
        printJob(*check.job, *check.pass, check, *counter);
    if (check.recovery) {
        // Only a note: it runs after failed passes alone.
        QString note = QStringLiteral("注: 画面の待ちが時間切れになった巡のあとに回復マクロ「%1」を実行します")
                           .arg(check.recovery->path);
        if (check.recovery->seconds)
            note += QStringLiteral("（1 回 最長 約 %1）").arg(formatDuration(*check.recovery->seconds));
        note += check.recovery->retries > 0
                    ? QStringLiteral("。その巡を %1 回までやり直します。上の見積もりには含みません。").arg(check.recovery->retries)
                    : QStringLiteral("。上の見積もりには含みません。");
        Console::out(note);
    }
    const qsizetype warnings = check.diagnostics.size() - errors;
    if (check.diagnostics.isEmpty())
        Console::out(QStringLiteral("問題は見つかりませんでした。"));
    else
        Console::out(QStringLiteral("エラー %1 件、警告 %2 件。").arg(errors).arg(warnings));
    return errors > 0 ? kErrors : warnings > 0 ? kWarnings : ExitStatus::Ok;
}
