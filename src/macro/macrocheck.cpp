#include "macro/macrocheck.h"

#include "link/textsender.h"
#include "macro/characters.h"
#include "macro/filelines.h"
#include "macro/keywordhint.h"
#include "macro/recovery.h"
#include "macro/runfailure.h"
#include "macro/runmessages.h"
#include "macro/statement.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

using Level = MacroDiagnostic::Level;
using Kind = Statement::Kind;
using Problem = Statement::Problem;

class Checker {
public:
    Checker(const QString &macroPath, const QString &addrPath, qint64 counter, const ScreenCheck &screen)
        : macroPath_(macroPath), addrPath_(addrPath), skipped_(std::max<qint64>(0, counter)), screen_(screen),
          sourceSet_(screen.sourceGiven)
    {
    }

    MacroCheck run();

private:
    void add(Level level, const QString &file, qint64 line, const QString &message)
    {
        result_.diagnostics.append({level, file, line, message});
    }
    void error(qint64 line, const QString &message) { add(Level::Error, macroPath_, line, message); }
    void warning(qint64 line, const QString &message) { add(Level::Warning, macroPath_, line, message); }

    void readAddresses();
    PassStep examine(qint64 line, const QString &text);
    std::optional<float> seconds(const PassStep &step, const QString &text);
    void checkPort(const PassStep &step, const QString &text);
    void checkString(PassStep &step, const QString &text);
    void takeAddress(const PassStep &step);
    void checkScreen(PassStep &step);
    void checkAddressCharacters();
    void checkUnreachable(const QStringList &lines, qsizetype endIndex, const PassStep &end);
    void checkLoopWaits(const QList<PassStep> &steps, const PassWaits &later);
    void checkLineQueue(const QList<PassStep> &steps, const PassWaits &first, const PassWaits *later);
    void estimateWholeJob(const QList<PassStep> &steps);
    void checkRecovery();

    QString macroPath_;
    QString addrPath_;
    qint64 skipped_; // address lines the run skips at its start: the counter
    std::optional<QStringList> addresses_; // when given, readable and longer than the counter
    qsizetype nextAddress_ = 0;
    QString currentAddress_;
    int getStrs_ = 0;
    bool hasGetStr_ = false;
    ScreenCheck screen_;
    bool sourceSet_ = false;
    MacroCheck result_;
};

MacroCheck Checker::run()
{
    const FileLines macro = readFileLines(macroPath_);
    if (macro.failed) {
        error(0, joinedLines(macro.opened ? RunMessages::macroFileRead(macroPath_, macro.reason)
                                          : RunMessages::macroFileOpen(macroPath_, macro.reason)));
        return result_;
    }
    readAddresses();

    // The pass: every non-empty line up to the first REPEAT or EXIT.
    const PassShape shape = passShape(macro.lines);
    const QList<qsizetype> &pass = shape.lines;
    hasGetStr_ = shape.getStrs > 0;
    if (pass.isEmpty())
        warning(0, QStringLiteral("実行する文がありません（ファイルが空か、空行しかありません）。"));

    QList<PassStep> steps;
    for (const qsizetype i : pass)
        steps.append(examine(i + 1, macro.lines[i]));
    if (!pass.isEmpty())
        checkUnreachable(macro.lines, pass.last(), steps.last());

    // Every later pass starts with the base wait the one before left in
    // force; the first starts with 0.
    const PassWaits first = passWaits(steps, 0.0f);
    const PassWaits later = passWaits(steps, first.endBaseWait);
    result_.pass = summarizePass(steps, first, later);
    const bool repeats = result_.pass->endKeyword == QLatin1String("REPEAT");
    if (repeats)
        checkLoopWaits(steps, later);
    checkLineQueue(steps, first, repeats ? &later : nullptr);

    if (std::any_of(steps.begin(), steps.end(), [](const PassStep &s) { return s.statement.kind == Kind::SendStr; }))
        checkAddressCharacters();
    if (!steps.isEmpty())
        estimateWholeJob(steps);
    checkRecovery();

    // The macro file first, then the address file; each in line order.
    std::stable_sort(result_.diagnostics.begin(), result_.diagnostics.end(),
                     [this](const MacroDiagnostic &a, const MacroDiagnostic &b) {
                         const bool aMacro = a.file == macroPath_;
                         const bool bMacro = b.file == macroPath_;
                         if (aMacro != bMacro)
                             return aMacro;
                         return a.line < b.line;
                     });
    return result_;
}

void Checker::readAddresses()
{
    if (addrPath_.isEmpty())
        return;
    FileLines file = readFileLines(addrPath_);
    if (file.failed) {
        add(Level::Error, addrPath_, 0,
            joinedLines(file.opened ? RunMessages::addrFileRead(addrPath_, file.reason)
                                : RunMessages::addrFileOpen(addrPath_, file.reason)));
        return;
    }
    result_.addressLines = file.lines.size();
    if (file.lines.size() < skipped_) {
        add(Level::Error, addrPath_, 0,
            joinedLines(RunMessages::addrFileShorterThanCounter(addrPath_, file.lines.size(), skipped_)));
        return;
    }
    addresses_ = std::move(file.lines);
    nextAddress_ = skipped_;
}

PassStep Checker::examine(qint64 line, const QString &text)
{
    PassStep step;
    step.line = line;
    step.statement = parseStatement(text);
    switch (step.statement.kind) {
    case Kind::Key:
        step.packets = 1;
        break;
    case Kind::BaseWait:
        step.baseWait = seconds(step, text);
        break;
    case Kind::Sleep:
        step.sleep = std::max(0.0f, seconds(step, text).value_or(0.0f));
        break;
    case Kind::PortNo:
        checkPort(step, text);
        break;
    case Kind::GetStr:
        takeAddress(step);
        break;
    case Kind::SendStr:
        step.packets = static_cast<int>(TextSender::packetsForCharacters(currentAddress_).size());
        if (!hasGetStr_)
            warning(line, QStringLiteral("GETSTR がないため、この SENDSTR は何も入力しません。"));
        break;
    case Kind::String:
        checkString(step, text);
        break;
    case Kind::None:
        if (const QString message = unknownKeywordMessage(text); !message.isEmpty())
            warning(line, message);
        break;
    case Kind::Screen:
    case Kind::WaitImage:
    case Kind::WaitGone:
    case Kind::Snapshot:
    case Kind::WaitText:
    case Kind::ReadText:
    case Kind::Display:
        checkScreen(step);
        break;
    case Kind::Repeat:
    case Kind::Exit:
    case Kind::OnFail: // checkRecovery
        break;
    }
    return step;
}

void Checker::checkScreen(PassStep &step)
{
    const Statement &st = step.statement;
    if (!st.isValid()) {
        error(step.line, RunMessages::argumentProblem(st));
        return;
    }
    if (st.kind == Kind::Screen) {
        sourceSet_ = true;
        return;
    }
    if (st.kind == Kind::Display)
        return;
    if (!sourceSet_) {
        error(step.line, QStringLiteral("%1: 画面の取り込み元がありません。--screen、/S か、この行より前の SCREEN で指定してください。")
                             .arg(st.keyword));
    }
    if (st.kind == Kind::WaitText) {
        if (st.text.contains(QLatin1String("{address}")) && getStrs_ == 0)
            error(step.line, QStringLiteral("WAITTEXT: {address} は、この巡の GETSTR より後でなければ使えません"
                                            "（まだアドレスを読んでいません）。"));
        ++result_.screenWaits;
        step.sleep = st.seconds;
        return;
    }
    if (!st.isScreenWait())
        return;
    ++result_.screenWaits;
    step.sleep = st.seconds;
    const QString path = QDir::isAbsolutePath(st.text) ? st.text : QFileInfo(macroPath_).dir().filePath(st.text);
    QString problem;
    if (screen_.templateProblem) {
        problem = screen_.templateProblem(path);
    } else {
        const QFileInfo info(path);
        problem = !info.exists() ? QStringLiteral("ファイルがありません")
                  : !info.isFile() || !info.isReadable() ? QStringLiteral("読めません")
                                                         : QString();
    }
    if (!problem.isEmpty())
        error(step.line, QStringLiteral("%1: 画像ファイル「%2」を照合に使えません: %3。").arg(st.keyword, st.text, problem));
}

std::optional<float> Checker::seconds(const PassStep &step, const QString &text)
{
    const Statement &st = step.statement;
    if (st.problem == Problem::Empty) {
        error(step.line, QStringLiteral("%1 の秒数が空です（%2）。").arg(st.keyword, emptyArgumentReason(text)));
        return std::nullopt;
    }
    if (!st.isValid()) {
        error(step.line, RunMessages::argumentProblem(st));
        return std::nullopt;
    }
    return st.seconds;
}

void Checker::checkPort(const PassStep &step, const QString &text)
{
    const Statement &st = step.statement;
    if (st.problem == Problem::Empty) {
        error(step.line, QStringLiteral("PORTNO のポート番号が空です（%1）。").arg(emptyArgumentReason(text)));
    } else if (!st.isValid()) {
        error(step.line, RunMessages::argumentProblem(st));
    } else if (st.port < 1) {
        error(step.line,
              QStringLiteral("PORTNO のポート番号「%1」に当たるデバイスはありません（ポート番号は 1 以上です）。").arg(*st.argument));
    }
}

void Checker::checkString(PassStep &step, const QString &text)
{
    const std::optional<QString> &argument = step.statement.argument;
    if (!argument) {
        warning(step.line, QStringLiteral("STRING の文字列がありません。何も入力しません。"));
        return;
    }
    if (argument->isEmpty()) {
        warning(step.line, QStringLiteral("STRING の文字列が空です（%1）。何も入力しません。").arg(emptyArgumentReason(text)));
        return;
    }
    step.packets = static_cast<int>(TextSender::packetsForString(step.statement.text).size());
    const QStringList untypable = untypableCharacters(step.statement.text);
    if (!untypable.isEmpty())
        warning(step.line, QStringLiteral("STRING の%1は入力できないため送られません。").arg(describeCharacters(untypable)));
}

void Checker::takeAddress(const PassStep &step)
{
    ++getStrs_;
    if (addrPath_.isEmpty()) {
        error(step.line, QStringLiteral("GETSTR で読むアドレスファイルが指定されていません（--addr）。"
                                        "実行では GETSTR は何もせず、SENDSTR は何も入力しません。"));
        return;
    }
    if (!addresses_)
        return; // unreadable; said so already
    if (nextAddress_ < addresses_->size()) {
        currentAddress_ = addresses_->at(nextAddress_++);
        return;
    }
    // The pass's first GETSTR finding no line ends the job as done (with
    // nothing typed, in the first pass); a later one cuts the pass. The
    // GETSTRs after it add nothing to mend.
    if (nextAddress_ == addresses_->size()) {
        if (getStrs_ == 1) {
            warning(step.line, QStringLiteral("アドレスファイル「%1」に %2 行目がないため、ジョブはこの GETSTR で"
                                              "何も入力せずに終わります。")
                                   .arg(addrPath_)
                                   .arg(nextAddress_ + 1));
        } else {
            error(step.line, joinedLines(RunMessages::addrFileEnded(addrPath_, nextAddress_ + 1)) +
                                 QStringLiteral("1 巡目の GETSTR の %1 個目です。").arg(getStrs_));
        }
        ++nextAddress_;
    }
}

void Checker::checkAddressCharacters()
{
    if (!addresses_)
        return;
    // The lines the run reads: those after the counter's.
    for (qsizetype i = skipped_; i < addresses_->size(); ++i) {
        const QString &address = addresses_->at(i);
        const QStringList unsent = unsentAddressCharacters(address);
        if (address.isEmpty())
            add(Level::Warning, addrPath_, i + 1, QStringLiteral("空行です。この行を読んだ SENDSTR は何も入力しません。"));
        else if (!unsent.isEmpty())
            add(Level::Warning, addrPath_, i + 1,
                QStringLiteral("SENDSTR はこの行の%1を入力できないため飛ばします。").arg(describeCharacters(unsent)));
    }
}

void Checker::checkUnreachable(const QStringList &lines, qsizetype endIndex, const PassStep &end)
{
    const Kind kind = end.statement.kind;
    if (kind != Kind::Repeat && kind != Kind::Exit)
        return;
    for (qsizetype i = endIndex + 1; i < lines.size(); ++i) {
        if (!looksLikeStatement(lines[i]))
            continue;
        warning(i + 1, kind == Kind::Repeat
                           ? QStringLiteral("この行から後は実行されません（%1 行目の REPEAT で最初の行に戻ります）。").arg(end.line)
                           : QStringLiteral("この行から後は実行されません（%1 行目の EXIT でプログラムが終わります）。").arg(end.line));
        return;
    }
}

void Checker::checkLoopWaits(const QList<PassStep> &steps, const PassWaits &later)
{
    if (later.baseWait + later.sleep > 0)
        return;
    QString message = QStringLiteral("REPEAT で繰り返す 1 巡に待ち時間がありません（SLEEP も基本待ち時間もありません）。"
                                     "止めるまで休みなく繰り返します。");
    // The sending queue is bounded: a pass without waits goes at the line's
    // pace, its packets one after another with no pause for the handset.
    if (std::any_of(steps.begin(), steps.end(), [](const PassStep &s) { return s.packets > 0; }))
        message += QStringLiteral("実行は回線の速さに合わせて進み（パケット 1 個に約 0.183 秒）、"
                                  "携帯電話機はキーを休みなく押され続けます。");
    warning(steps.last().line, message);
}

void Checker::checkLineQueue(const QList<PassStep> &steps, const PassWaits &first, const PassWaits *later)
{
    // A statement whose packets are still on the line when the next packets
    // come: they queue, and the handset falls behind the status line. The
    // first pass decides: it starts with a base wait of 0, so no later pass
    // waits less at any statement.
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (steps[i].packets == 0)
            continue;
        const std::optional<Gap> gap = gapAfter(steps, i, first.after, later ? &later->after : nullptr);
        const double wire = steps[i].packets * kPacketWireSeconds;
        if (!gap || wire <= gap->seconds + 1e-9)
            continue;
        warning(steps[i].line,
                QStringLiteral("パケット %1 個の送信に約 %2 秒かかりますが、次にパケットを送る %3 行目%4までは %5 秒です。"
                               "パケットが回線に溜まり、携帯電話機の動きが状態表示より遅れます。")
                    .arg(steps[i].packets)
                    .arg(formatSeconds(wire))
                    .arg(steps[gap->next].line)
                    .arg(gap->nextPass ? QStringLiteral("（次の巡）") : QString(), formatSeconds(gap->seconds)));
    }
}

void Checker::estimateWholeJob(const QList<PassStep> &steps)
{
    if (!addrPath_.isEmpty() && !addresses_)
        return; // unreadable, or shorter than the counter: said so already
    std::optional<QList<int>> addressPackets;
    if (addresses_) {
        addressPackets.emplace();
        addressPackets->reserve(addresses_->size() - skipped_);
        for (qsizetype i = skipped_; i < addresses_->size(); ++i)
            addressPackets->append(int(TextSender::packetsForCharacters(addresses_->at(i)).size()));
    }
    result_.job = estimateJob(steps, addressPackets);
}

void Checker::checkRecovery()
{
    const RecoveryPlan plan = readRecoveryPlan(macroPath_);
    for (const RunFailure &problem : plan.problems)
        add(Level::Error, problem.file, problem.line, joinedLines(problem.reason));
    if (plan.path.isEmpty() || !plan.problems.isEmpty())
        return;
    // The recovery macro as a macro of its own, on the run's screen; what
    // it may not hold is said above.
    ScreenCheck screen = screen_;
    screen.sourceGiven = screen_.sourceGiven || plan.macroOpensScreen;
    const MacroCheck recovery = checkMacro(plan.path, QString(), 0, screen);
    for (const MacroDiagnostic &d : recovery.diagnostics) {
        if (d.file == plan.path && d.line > 0 && !d.message.contains(QLatin1String("GETSTR")))
            result_.diagnostics.append(d);
    }
    result_.recovery = {plan.path, plan.retries, recovery.job ? std::optional<double>(recovery.job->seconds) : std::nullopt};
}

} // namespace

MacroCheck checkMacro(const QString &macroPath, const QString &addrPath, qint64 counter, const ScreenCheck &screen)
{
    return Checker(macroPath, addrPath, counter, screen).run();
}
