#include "macro/macrocheck.h"

#include "link/textsender.h"
#include "macro/keywordhint.h"
#include "macro/runmessages.h"
#include "macro/seconds.h"
#include "macro/statement.h"
#include "platform/portnumber.h"
#include "platform/textlinereader.h"

#include <algorithm>

namespace {

using Level = MacroDiagnostic::Level;
using Kind = Statement::Kind;

// ---- Reading --------------------------------------------------------------

// Every line of a file as the run's reader gives it, empty lines included, so
// that line i is the file's line i + 1.
struct FileLines {
    QStringList lines;
    bool opened = false;
    bool failed = false;
    QString reason;
};

FileLines readLines(const QString &path)
{
    FileLines file;
    TextLineReader reader;
    if (!reader.open(path)) {
        file.failed = true;
        file.reason = reader.errorString();
        return file;
    }
    file.opened = true;
    while (const std::optional<QString> line = reader.readLine())
        file.lines.append(*line);
    if (reader.failed()) {
        file.failed = true;
        file.reason = reader.errorString();
    }
    return file;
}

// The run's messages are made for a message box; here they stand on one line.
QString oneLine(const QString &message)
{
    return QString(message).remove(u'\n');
}

// ---- Characters -------------------------------------------------------------

// The characters of `text`, a surrogate pair as one.
QStringList characters(const QString &text)
{
    QStringList list;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        list.append(text.mid(i, length));
        i += length - 1;
    }
    return list;
}

QStringList charactersWithoutPacket(const QString &text, QList<KeyPacket> (*packets)(const QString &))
{
    QStringList missing;
    for (const QString &c : characters(text)) {
        if (packets(c).isEmpty() && !missing.contains(c))
            missing.append(c);
    }
    return missing;
}

QString describeCharacter(const QString &c)
{
    if (c == u" ")
        return QStringLiteral("半角スペース");
    if (c == u"\u3000")
        return QStringLiteral("全角スペース");
    if (c == u"\t")
        return QStringLiteral("タブ");
    if (c == u"\uFFFD")
        return QStringLiteral("Shift-JIS の文字でないバイト");
    if (c.size() == 1 && (c[0].category() == QChar::Other_Control || c[0].category() == QChar::Other_Format))
        return QStringLiteral("U+%1").arg(c[0].unicode(), 4, 16, QChar(u'0')).toUpper();
    return u'「' + c + u'」';
}

// ---- The pass -----------------------------------------------------------------

// One statement of the pass, with what it sends and waits.
struct Step {
    qint64 line = 0;
    Statement statement;
    int packets = 0;
    double sleep = 0;              // a SLEEP's own seconds
    std::optional<float> baseWait; // the base wait a BASEWAIT sets
};

// The wait after each step of a pass that starts with `startBaseWait`.
struct PassWaits {
    QList<double> after; // SLEEP and base wait; nothing after REPEAT and EXIT
    double baseWait = 0;
    double sleep = 0;
    float endBaseWait = 0;
};

PassWaits passWaits(const QList<Step> &steps, float startBaseWait)
{
    PassWaits waits;
    float baseWait = startBaseWait;
    for (const Step &step : steps) {
        if (step.baseWait)
            baseWait = *step.baseWait;
        const Kind kind = step.statement.kind;
        const double base = kind == Kind::Repeat || kind == Kind::Exit ? 0.0 : std::max(0.0, double(baseWait));
        waits.after.append(step.sleep + base);
        waits.baseWait += base;
        waits.sleep += step.sleep;
    }
    waits.endBaseWait = baseWait;
    return waits;
}

// The time from the start of a sending step to the start of the next one.
struct Gap {
    double seconds = 0;
    qsizetype next = 0;
    bool nextPass = false;
};

// From step `i` of a pass waiting `current`, to the next step that sends:
// later in this pass, or when the pass repeats, in the next one (`later`).
std::optional<Gap> gapAfter(const QList<Step> &steps, qsizetype i, const QList<double> &current,
                            const QList<double> *later)
{
    Gap gap;
    gap.seconds = current[i];
    for (qsizetype j = i + 1; j < steps.size(); ++j) {
        if (steps[j].packets > 0) {
            gap.next = j;
            return gap;
        }
        gap.seconds += current[j];
    }
    if (!later)
        return std::nullopt;
    gap.nextPass = true;
    for (qsizetype j = 0; j <= i; ++j) {
        if (steps[j].packets > 0) {
            gap.next = j;
            return gap;
        }
        gap.seconds += (*later)[j];
    }
    return std::nullopt;
}

class Checker {
public:
    Checker(const QString &macroPath, const QString &addrPath) : macroPath_(macroPath), addrPath_(addrPath) {}

    MacroCheck run();

private:
    void add(Level level, const QString &file, qint64 line, const QString &message)
    {
        result_.diagnostics.append({level, file, line, message});
    }
    void error(qint64 line, const QString &message) { add(Level::Error, macroPath_, line, message); }
    void warning(qint64 line, const QString &message) { add(Level::Warning, macroPath_, line, message); }

    void readAddresses();
    Step examine(qint64 line, const QString &text);
    std::optional<float> seconds(const Step &step, const QString &text);
    void checkPort(const Step &step, const QString &text);
    void checkString(Step &step, const QString &text);
    void takeAddress(const Step &step);
    void checkAddressCharacters();
    void checkUnreachable(const QStringList &lines, qsizetype endIndex, const Step &end);
    static PassSummary summarize(const QList<Step> &steps, const PassWaits &first, const PassWaits &later);
    void checkLoopWaits(const QList<Step> &steps, const PassWaits &later);
    void checkLineQueue(const QList<Step> &steps, const PassWaits &first, const PassWaits *later);

    QString macroPath_;
    QString addrPath_;
    std::optional<QStringList> addresses_; // when given and readable
    qsizetype nextAddress_ = 0;
    QString currentAddress_;
    int getStrs_ = 0;
    bool hasGetStr_ = false;
    MacroCheck result_;
};

MacroCheck Checker::run()
{
    const FileLines macro = readLines(macroPath_);
    if (macro.failed) {
        error(0, oneLine(macro.opened ? RunMessages::macroFileRead(macroPath_, macro.reason)
                                      : RunMessages::macroFileOpen(macroPath_, macro.reason)));
        return result_;
    }
    readAddresses();

    // The pass: every non-empty line up to the first REPEAT or EXIT.
    QList<qsizetype> pass;
    for (qsizetype i = 0; i < macro.lines.size(); ++i) {
        if (macro.lines[i].isEmpty())
            continue;
        pass.append(i);
        const Kind kind = parseStatement(macro.lines[i]).kind;
        if (kind == Kind::GetStr)
            hasGetStr_ = true;
        if (kind == Kind::Repeat || kind == Kind::Exit)
            break;
    }
    if (pass.isEmpty())
        warning(0, QStringLiteral("実行する文がありません（ファイルが空か、空行しかありません）。"));

    QList<Step> steps;
    for (const qsizetype i : pass)
        steps.append(examine(i + 1, macro.lines[i]));
    if (!pass.isEmpty())
        checkUnreachable(macro.lines, pass.last(), steps.last());

    // Every later pass starts with the base wait the one before left in
    // force; the first starts with 0.
    const PassWaits first = passWaits(steps, 0.0f);
    const PassWaits later = passWaits(steps, first.endBaseWait);
    result_.pass = summarize(steps, first, later);
    const bool repeats = result_.pass->endKeyword == QLatin1String("REPEAT");
    if (repeats)
        checkLoopWaits(steps, later);
    checkLineQueue(steps, first, repeats ? &later : nullptr);

    if (std::any_of(steps.begin(), steps.end(), [](const Step &s) { return s.statement.kind == Kind::SendStr; }))
        checkAddressCharacters();

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
    FileLines file = readLines(addrPath_);
    if (file.failed) {
        add(Level::Error, addrPath_, 0,
            oneLine(file.opened ? RunMessages::addrFileRead(addrPath_, file.reason)
                                : RunMessages::addrFileOpen(addrPath_, file.reason)));
        return;
    }
    addresses_ = std::move(file.lines);
}

Step Checker::examine(qint64 line, const QString &text)
{
    Step step;
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
    case Kind::Repeat:
    case Kind::Exit:
        break;
    }
    return step;
}

std::optional<float> Checker::seconds(const Step &step, const QString &text)
{
    const Statement &st = step.statement;
    if (!st.argument) {
        error(step.line, RunMessages::secondsMissing(st.keyword));
        return std::nullopt;
    }
    if (st.argument->isEmpty()) {
        error(step.line, QStringLiteral("%1 の秒数が空です（%2）。").arg(st.keyword, emptyArgumentReason(text)));
        return std::nullopt;
    }
    const std::optional<float> value = parseSeconds(*st.argument);
    if (!value)
        error(step.line, RunMessages::secondsBad(st.keyword, *st.argument));
    return value;
}

void Checker::checkPort(const Step &step, const QString &text)
{
    const std::optional<QString> &argument = step.statement.argument;
    if (!argument) {
        error(step.line, RunMessages::portMissing());
    } else if (argument->isEmpty()) {
        error(step.line, QStringLiteral("PORTNO のポート番号が空です（%1）。").arg(emptyArgumentReason(text)));
    } else if (const std::optional<qint32> number = parseWholeNumber(*argument); !number) {
        error(step.line, RunMessages::portBad(*argument));
    } else if (devicePathForPort(*number).isEmpty()) {
        error(step.line,
              QStringLiteral("PORTNO のポート番号「%1」に当たるデバイスはありません（ポート番号は 1 以上です）。").arg(*argument));
    }
}

void Checker::checkString(Step &step, const QString &text)
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
    step.packets = static_cast<int>(TextSender::packetsForString(*argument).size());
    const QStringList untypable = untypableCharacters(*argument);
    if (!untypable.isEmpty())
        warning(step.line, QStringLiteral("STRING の%1は入力できないため送られません。").arg(describeCharacters(untypable)));
}

void Checker::takeAddress(const Step &step)
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
    // The first GETSTR that finds no line ends the run; the later ones add
    // nothing to mend.
    if (nextAddress_ == addresses_->size()) {
        error(step.line, oneLine(RunMessages::addrFileEnded(addrPath_, nextAddress_ + 1)) +
                             QStringLiteral("1 巡目の GETSTR の %1 個目です。").arg(getStrs_));
        ++nextAddress_;
    }
}

void Checker::checkAddressCharacters()
{
    if (!addresses_)
        return;
    for (qsizetype i = 0; i < addresses_->size(); ++i) {
        const QString &address = addresses_->at(i);
        const QStringList unsent = unsentAddressCharacters(address);
        if (address.isEmpty())
            add(Level::Warning, addrPath_, i + 1, QStringLiteral("空行です。この行を読んだ SENDSTR は何も入力しません。"));
        else if (!unsent.isEmpty())
            add(Level::Warning, addrPath_, i + 1,
                QStringLiteral("SENDSTR はこの行の%1を入力できないため飛ばします。").arg(describeCharacters(unsent)));
    }
}

void Checker::checkUnreachable(const QStringList &lines, qsizetype endIndex, const Step &end)
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

PassSummary Checker::summarize(const QList<Step> &steps, const PassWaits &first, const PassWaits &later)
{
    PassSummary summary;
    if (!steps.isEmpty()) {
        summary.firstLine = steps.first().line;
        summary.lastLine = steps.last().line;
        const Kind end = steps.last().statement.kind;
        if (end == Kind::Repeat || end == Kind::Exit)
            summary.endKeyword = steps.last().statement.keyword;
    }
    summary.statements = static_cast<int>(steps.size());
    for (const Step &step : steps)
        summary.packets += step.packets;
    summary.baseWaitSeconds = first.baseWait;
    summary.sleepSeconds = first.sleep;
    summary.wireSeconds = summary.packets * kPacketWireSeconds;
    if (summary.endKeyword == QLatin1String("REPEAT") && later.baseWait != first.baseWait)
        summary.laterBaseWaitSeconds = later.baseWait;
    return summary;
}

void Checker::checkLoopWaits(const QList<Step> &steps, const PassWaits &later)
{
    if (later.baseWait + later.sleep > 0)
        return;
    QString message = QStringLiteral("REPEAT で繰り返す 1 巡に待ち時間がありません（SLEEP も基本待ち時間もありません）。"
                                     "止めるまで休みなく繰り返します。");
    if (std::any_of(steps.begin(), steps.end(), [](const Step &s) { return s.packets > 0; }))
        message += QStringLiteral("送るパケットは回線に際限なく溜まります。");
    warning(steps.last().line, message);
}

void Checker::checkLineQueue(const QList<Step> &steps, const PassWaits &first, const PassWaits *later)
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

} // namespace

MacroCheck checkMacro(const QString &macroPath, const QString &addrPath)
{
    return Checker(macroPath, addrPath).run();
}

QStringList untypableCharacters(const QString &text)
{
    return charactersWithoutPacket(text, &TextSender::packetsForString);
}

QStringList unsentAddressCharacters(const QString &text)
{
    return charactersWithoutPacket(text, &TextSender::packetsForCharacters);
}

QString describeCharacters(const QStringList &characters)
{
    QStringList described;
    for (const QString &c : characters)
        described.append(describeCharacter(c));
    return described.join(u'、');
}

QString formatSeconds(double seconds)
{
    QString text = QString::number(seconds, 'f', 3);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}
