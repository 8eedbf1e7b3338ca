#include "macro/macrorecorder.h"

#include "link/keytable.h"
#include "link/textsender.h"
#include "macro/macrorunner.h"
#include "platform/cp932.h"
#include "platform/systemreason.h"

#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace {

// `ms` as seconds with at most three decimals and no trailing zeros: "0.2",
// "0.05", "1".
QString secondsText(qint64 ms)
{
    QString text = QString::number(static_cast<double>(ms) / 1000.0, 'f', 3);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

QString cannotWrite(const QString &path, const QString &reason)
{
    return QStringLiteral("記録ファイル「%1」に書き込めません。\n%2").arg(path, SystemReason::asLine(reason));
}

} // namespace

MacroRecorder::MacroRecorder(int baseWaitMs) : baseWaitMs_(std::max(baseWaitMs, 0)) {}

void MacroRecorder::addKey(const QString &name, double sentMs, double doneMs)
{
    if (KeyTable::find(name))
        items_.append({name, sentMs, doneMs});
}

void MacroRecorder::addText(const QString &text, double sentMs, double doneMs)
{
    const QString typed = stringText(text);
    if (!typed.isEmpty())
        items_.append({QStringLiteral("STRING ") + typed, sentMs, doneMs});
}

void MacroRecorder::addCheckpoint(const QString &line, double atMs)
{
    items_.append({line, atMs, atMs, true});
}

void MacroRecorder::lookAt(const QString &source, double atMs, const QString &display)
{
    if (source_.isEmpty()) {
        firstSource_ = source;
        firstDisplay_ = display;
    } else {
        if (source_ != source)
            addCheckpoint(QStringLiteral("SCREEN ") + source, atMs);
        // (A new source keeps the display set before.)
        if (!display.isEmpty() && display != display_)
            addCheckpoint(QStringLiteral("DISPLAY ") + display, atMs);
    }
    source_ = source;
    if (!display.isEmpty())
        display_ = display;
}

namespace {
bool isCheckpoint(const QString &line)
{
    const QString keyword = line.section(u' ', 0, 0);
    return keyword == u"WAITIMAGE" || keyword == u"WAITGONE" || keyword == u"WAITTEXT";
}
} // namespace

QString MacroRecorder::removeLastCheckpoint()
{
    for (qsizetype i = items_.size() - 1; i >= 0; --i) {
        if (items_[i].checkpoint && isCheckpoint(items_[i].line))
            return items_.takeAt(i).line;
    }
    return {};
}

QStringList MacroRecorder::checkpointPictures() const
{
    QStringList pictures;
    for (const Item &item : items_) {
        if (item.checkpoint && isCheckpoint(item.line) && !item.line.startsWith(QStringLiteral("WAITTEXT")))
            pictures.append(item.line.section(u' ', 1, 1));
    }
    return pictures;
}

QStringList MacroRecorder::lines() const
{
    QStringList lines{QStringLiteral("BASEWAIT ") + secondsText(baseWaitMs_)};
    if (!firstSource_.isEmpty())
        lines.append(QStringLiteral("SCREEN ") + firstSource_);
    if (!firstSource_.isEmpty() && !firstDisplay_.isEmpty())
        lines.append(QStringLiteral("DISPLAY ") + firstDisplay_);
    // The replay's base wait: a shorter one still lasts the run's shortest.
    const double waitMs = std::max<double>(baseWaitMs_, MacroRunner::kShortestWaitMs);
    // When the replay starts the item before, on the session's clock.
    double replayedMs = 0;
    const Item *previousItem = nullptr;
    for (const Item &item : items_) {
        if (item.checkpoint) {
            lines.append(item.line);
            continue;
        }
        if (!previousItem) {
            replayedMs = item.sentMs;
        } else {
            // Without a SLEEP the item starts once the one before has been
            // handed over and the base wait has passed; a SLEEP line adds its
            // seconds and a base wait of its own. Whichever comes closer.
            const Item &previous = *previousItem;
            const double earliestMs = replayedMs + (previous.doneMs - previous.sentMs) + waitMs;
            const double behindMs = item.sentMs - earliestMs;
            const auto tenths = std::max<qint64>(1, std::llround((behindMs - waitMs) / 100.0));
            const double sleptMs = waitMs + static_cast<double>(tenths) * 100.0;
            if (std::abs(behindMs - sleptMs) < std::abs(behindMs)) {
                lines.append(QStringLiteral("SLEEP %1.%2").arg(tenths / 10).arg(tenths % 10));
                replayedMs = earliestMs + sleptMs;
            } else {
                replayedMs = earliestMs;
            }
        }
        lines.append(item.line);
        previousItem = &item;
    }
    return lines;
}

QByteArray MacroRecorder::fileBytes() const
{
    QByteArray bytes;
    for (const QString &line : lines())
        bytes += encodeCp932(line) + "\r\n";
    return bytes;
}

bool MacroRecorder::write(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = cannotWrite(path, file.errorString());
        return false;
    }
    // write() only fills the file's buffer, and commit() does not tell
    // every failure of writing it out (a full disk): the bytes are flushed
    // and checked first, and on any failure the temporary file goes and the
    // file at `path` stays as it was.
    const QByteArray bytes = fileBytes();
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        *error = cannotWrite(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = cannotWrite(path, file.errorString());
        return false;
    }
    return true;
}

bool MacroRecorder::canWrite(const QString &path, QString *error)
{
    // Destroyed without commit(): the temporary file goes, the file at
    // `path` stays as it was.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly))
        return true;
    *error = cannotWrite(path, file.errorString());
    return false;
}

QString MacroRecorder::stringText(const QString &text)
{
    QString typed;
    for (const QChar ch : text) {
        if (!TextSender::packetsForString(QString(ch)).isEmpty())
            typed.append(ch);
    }
    return typed;
}
