#include "cli/terminalkeypad.h"

#include "console/console.h"
#include "cli/keypadkeymap.h"
#include "link/keytable.h"
#include "link/seriallink.h"
#include "link/textsender.h"
#include "macro/characters.h"
#include "macro/macrorecorder.h"
#include "platform/waiter.h"

namespace {

using Kind = TerminalKey::Kind;

// How long the terminal must be quiet after an ESC for it to be the Escape
// key rather than the start of a key's sequence.
constexpr int kEscapeQuietMs = 50;

} // namespace

TerminalKeypad::TerminalKeypad(SerialLink &link, const Waiter &clock, MacroRecorder *recorder, QObject *parent)
    : QObject(parent), link_(link), clock_(clock), recorder_(recorder)
{
    quiet_.setSingleShot(true);
    quiet_.setInterval(kEscapeQuietMs);
    connect(&quiet_, &QTimer::timeout, this, [this] { decodeTyped(true); });
    connect(&link_, &SerialLink::packetSent, this, [this] { ++packetsSent_; });
    status_ = QStringLiteral("キーを押してください。");
}

void TerminalKeypad::type(const QByteArray &bytes)
{
    typed_ += bytes;
    decodeTyped(false);
}

void TerminalKeypad::decodeTyped(bool complete)
{
    qsizetype used = 0;
    const QList<TerminalKey> keys = decodeTerminalKeys(typed_, complete, &used);
    typed_.remove(0, used);
    // Only an ESC waits for the terminal to be quiet; the rest of a UTF-8
    // character is waited for as long as it takes.
    if (typed_.startsWith('\x1b'))
        quiet_.start();
    else
        quiet_.stop();
    for (const TerminalKey &key : keys) {
        if (key.kind == Kind::Interrupt) {
            // The keys typed before it go out, unless a text is going out:
            // then they are dropped with the rest of it.
            work();
            stop();
            return;
        }
        queue_.append(key);
    }
    work();
}

void TerminalKeypad::stop()
{
    if (ended_)
        return;
    ended_ = true;
    queue_.clear();
    quiet_.stop();
    Q_EMIT finished();
}

void TerminalKeypad::work()
{
    // A text going out lets events run while it waits for the line; keys
    // typed meanwhile wait here for their turn.
    if (busy_)
        return;
    busy_ = true;
    while (!queue_.isEmpty() && !ended_)
        handle(queue_.takeFirst());
    busy_ = false;
}

void TerminalKeypad::handle(const TerminalKey &key)
{
    if (key.kind == Kind::EndOfInput) {
        stop();
        return;
    }
    switch (mode_) {
    case Mode::Prompt:
        handlePrompt(key);
        return;
    case Mode::Ampersand:
        handleAmpersand(key);
        return;
    case Mode::Keys:
        break;
    }
    if (key.kind == Kind::Tab) {
        mode_ = Mode::Prompt;
        prompt_.clear();
        setStatus(QString());
    } else if (key.kind == Kind::Text && key.text == u"&") {
        mode_ = Mode::Ampersand;
        setStatus(QStringLiteral("&: アンパサンド形にするキーを押してください（Esc で取り消し）"));
    } else if (const QString name = handsetKeyFor(key); !name.isEmpty()) {
        pressKey(name);
    } else if (key.kind != Kind::Escape) {
        setStatus(QStringLiteral("そのキーには携帯電話機のキーを割り当てていません。"));
    }
}

void TerminalKeypad::handleAmpersand(const TerminalKey &key)
{
    mode_ = Mode::Keys;
    const QString name = ampersandFormOf(handsetKeyFor(key));
    if (!name.isEmpty())
        pressKey(name);
    else if (key.kind == Kind::Escape)
        setStatus(QStringLiteral("& を取り消しました。"));
    else
        setStatus(QStringLiteral("そのキーにはアンパサンド形がありません（& を取り消しました）。"));
}

void TerminalKeypad::handlePrompt(const TerminalKey &key)
{
    switch (key.kind) {
    case Kind::Text:
        prompt_ += key.text;
        break;
    case Kind::Backspace:
        prompt_.chop(prompt_.size() > 1 && prompt_.back().isLowSurrogate() ? 2 : 1);
        break;
    case Kind::Escape:
        mode_ = Mode::Keys;
        setStatus(QStringLiteral("文字列の入力を取り消しました。"));
        return;
    case Kind::Enter:
        // As in the text entry window: an empty text presses "■".
        mode_ = Mode::Keys;
        if (prompt_.isEmpty())
            pressKey(QStringLiteral("ENTER"));
        else
            typeText(prompt_);
        return;
    default:
        break;
    }
    // A paste comes as many keys at once: the line is shown once, after
    // the last of them.
    status_.clear();
    if (queue_.isEmpty())
        showStatus();
}

void TerminalKeypad::pressKey(const QString &name)
{
    const double sentMs = clock_.elapsedMs();
    link_.SendPacket(KeyTable::find(name).value());
    if (!link_.isOpen())
        return; // the link failed; its message ends the session
    if (recorder_)
        recorder_->addKey(name, sentMs, clock_.elapsedMs());
    setStatus(QStringLiteral("送信: %1").arg(name));
}

void TerminalKeypad::typeText(const QString &text)
{
    setStatus(QStringLiteral("送信中: 文字列「%1」").arg(text));
    const double sentMs = clock_.elapsedMs();
    QString typed;
    // One character at a time, so that a stop cuts the text between two of
    // them and the recording holds what went out.
    TextSender(link_).SendStringByCharacter(text, [this] { return !ended_; }, [&typed](QChar ch) { typed += ch; });
    if (recorder_)
        recorder_->addText(typed, sentMs, clock_.elapsedMs());
    if (ended_)
        return;
    QString status = QStringLiteral("送信: 文字列「%1」").arg(typed);
    if (const QStringList untypable = untypableCharacters(text); !untypable.isEmpty())
        status += QStringLiteral("（%1は送れません）").arg(describeCharacters(untypable));
    setStatus(status);
}

void TerminalKeypad::setStatus(const QString &status)
{
    status_ = status;
    showStatus();
}

void TerminalKeypad::showStatus()
{
    const int columns = Console::terminalColumns() - 1;
    QString line = recorder_ ? QStringLiteral("[記録中 %1] ").arg(recorder_->size()) : QString();
    if (mode_ == Mode::Prompt) {
        // The end of a long text, where the next character goes; on a
        // terminal too narrow even for that, the line is simply cut.
        // Measured from the end, so that a long paste costs what is shown,
        // not the whole text once for every character.
        const QString start = line + QStringLiteral("文字列> ");
        const int room = columns - Console::widthOf(start);
        const QString end = Console::fitWidthFromEnd(prompt_, room);
        QString shown = visibleText(end);
        if (end.size() < prompt_.size() || Console::widthOf(shown) > room)
            shown = QStringLiteral("…") + Console::fitWidthFromEnd(shown, room - 1);
        line = start + shown;
    } else {
        line += visibleText(status_);
    }
    // One line, rewritten in place; the cursor stays at its end.
    Console::writeOut(u'\r' + Console::fitWidth(line, columns) + QStringLiteral("\x1b[K"));
}
