#include "handset/virtualhandset.h"

#include "console/console.h"
#include "console/exitstatus.h"
#include "platform/receivingline.h"
#include "handset/linesettings.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <cmath>

namespace {
// At 600 baud the bytes of one packet follow each other within about 20 ms:
// bytes held back this long (an incomplete frame, stray bytes) get no more
// company and are reported.
constexpr int kQuietMs = 500;
// On a stop: how long the line must be quiet, and the longest wait for that.
constexpr int kStopQuietMs = 100;
constexpr int kStopDrainMs = 1000;
} // namespace

VirtualHandset::VirtualHandset(ReceivingLine &line, const Options &options, QObject *parent)
    : QObject(parent), line_(line), options_(options), output_(options.json)
{
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &VirtualHandset::stop);
    quiet_.setSingleShot(true);
    quiet_.setInterval(kQuietMs);
    connect(&quiet_, &QTimer::timeout, this, [this] { report(decoder_.finish(), lastArrivalMs_); });
    pace_.setSingleShot(true);
    pace_.setTimerType(Qt::PreciseTimer);
    connect(&pace_, &QTimer::timeout, this, &VirtualHandset::readAtPace);
}

double VirtualHandset::nowMs() const
{
    return startMs_ + static_cast<double>(clock_.nsecsElapsed()) / 1e6;
}

void VirtualHandset::start()
{
    startMs_ = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    clock_.start();
    Console::out(output_.ready(line_.devicePath(), line_.linkPath(), line_.isPseudoTerminal()));
    if (!line_.isPseudoTerminal() && !line_.checksParity()) {
        Console::report(QStringLiteral("handset"),
                        QStringLiteral("注意: %1 は偶数パリティの検査を受け付けませんでした。パリティエラーは報告されません。")
                            .arg(line_.devicePath()));
    }
    notifier_ = new QSocketNotifier(line_.fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &VirtualHandset::onReadable);
    if (options_.timeoutSeconds > 0)
        timeout_.start(static_cast<int>(std::ceil(options_.timeoutSeconds * 1000)));
}

void VirtualHandset::onReadable()
{
    if (options_.fast || !line_.isPseudoTerminal()) {
        // A real port is paced by its line already.
        readLine(-1);
        return;
    }
    // Bytes wait on an idle line: the first is across one byte time from
    // now. Until the line is idle again the pace reads, not the notifier.
    notifier_->setEnabled(false);
    lineFreeAtMs_ = std::max(lineFreeAtMs_, nowMs());
    pace_.start(static_cast<int>(std::ceil(lineFreeAtMs_ + LineTiming::kByteMs - nowMs())));
}

void VirtualHandset::readAtPace()
{
    if (ended_)
        return;
    const qint64 due = std::max<qint64>(1, static_cast<qint64>((nowMs() - lineFreeAtMs_) / LineTiming::kByteMs));
    const qint64 readBefore = bytesRead_;
    readLine(due);
    if (ended_)
        return;
    const qint64 taken = bytesRead_ - readBefore;
    lineFreeAtMs_ += static_cast<double>(taken) * LineTiming::kByteMs;
    if (taken < due) {
        // Nothing more waits: the line is idle until the next byte comes.
        lineFreeAtMs_ = std::max(lineFreeAtMs_, nowMs());
        notifier_->setEnabled(true);
        return;
    }
    pace_.start(static_cast<int>(std::max(0.0, std::ceil(lineFreeAtMs_ + LineTiming::kByteMs - nowMs()))));
}

void VirtualHandset::readLine(qsizetype maxBytes)
{
    bool lineEnded = false;
    const QByteArray raw = line_.readAvailable(&lineEnded, maxBytes);
    bytesRead_ += raw.size();
    take(raw, nowMs());
    if (lineEnded && !ended_) {
        Console::report(QStringLiteral("handset"), line_.errorText());
        end(ExitStatus::Failed, false);
    }
}

void VirtualHandset::take(const QByteArray &raw, double arrivalMs)
{
    if (raw.isEmpty() || ended_)
        return;
    lastArrivalMs_ = arrivalMs;
    if (line_.isPseudoTerminal() && !settingsWarned_)
        checkLineSettings();

    QByteArray bytes = raw;
    if (line_.marksBytes()) {
        const ParityMarks::Bytes unmarked = parityMarks_.feed(raw);
        bytes = unmarked.data;
        for (const qsizetype i : unmarked.errors) {
            ++parityErrors_;
            Console::out(output_.parityError(streamBytes_ + i, static_cast<quint8>(bytes[i]), arrivalMs));
        }
    }
    streamBytes_ += bytes.size();
    if (!bytes.isEmpty())
        arrivals_.emplace_back(streamBytes_, arrivalMs);
    report(decoder_.feed(bytes), arrivalMs);
    if (ended_)
        return;
    if (decoder_.pendingBytes() > 0)
        quiet_.start();
    else
        quiet_.stop();
}

void VirtualHandset::report(const QList<DecoderEvent> &events, double arrivalMs)
{
    for (const DecoderEvent &e : events) {
        if (ended_)
            return;
        // An event's bytes may have come in several reads: it arrived with
        // its first byte.
        const double arrival = std::min(arrivalMs, arrivalOf(e.offset));
        const double lineDoneMs = lineClock_.add(arrival, e.bytes.size());
        Console::out(output_.event(e, arrival, lineDoneMs));
        if (e.type != DecoderEvent::Type::Packet) {
            strayBytes_ += e.bytes.size();
            continue;
        }
        ++packets_;
        if (!e.packet.isValid())
            ++badPackets_;
        Q_EMIT packetReceived(e.packet);
        if (options_.count > 0 && packets_ >= options_.count)
            end(ExitStatus::Ok, false);
    }
}

double VirtualHandset::arrivalOf(qint64 offset)
{
    // Events come in stream order: reads that end before this one's first
    // byte are not asked for again.
    while (!arrivals_.empty() && arrivals_.front().first <= offset)
        arrivals_.pop_front();
    return arrivals_.empty() ? lastArrivalMs_ : arrivals_.front().second;
}

void VirtualHandset::checkLineSettings()
{
    // A sender that closed its port already has put the settings back as
    // they were; those say nothing about it.
    if (!line_.senderHasSetTheLine())
        return;
    settingsSeen_ = true;
    if (settingsWarned_)
        return;
    const QStringList differences = lineSettingDifferences(line_.settings());
    if (differences.isEmpty())
        return;
    settingsWarned_ = true;
    Console::out(output_.lineSettings(line_.devicePath(), differences));
}

void VirtualHandset::stop()
{
    end(ExitStatus::Ok, true);
}

void VirtualHandset::end(int exitStatus, bool readRest)
{
    if (ended_)
        return;
    if (readRest) {
        // Bytes written just before the stop may still be on their way
        // through the terminal: read until the line has been quiet a moment.
        const QDeadlineTimer deadline(kStopDrainMs);
        while (!ended_ && !deadline.hasExpired() && line_.waitForBytes(kStopQuietMs)) {
            bool lineEnded = false;
            take(line_.readAvailable(&lineEnded), nowMs());
            if (lineEnded)
                break;
        }
        if (!ended_)
            report(decoder_.finish(), lastArrivalMs_);
        if (ended_) // the last packet counted ended it already
            return;
    }
    ended_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    timeout_.stop();
    quiet_.stop();
    pace_.stop();
    if (line_.isPseudoTerminal() && streamBytes_ > 0 && !settingsSeen_)
        Console::out(output_.lineSettingsUnseen(line_.devicePath()));
    QString received = QStringLiteral("受信: パケット %1 個（うち不正 %2 個）、パケットにならないバイト %3 個")
                           .arg(packets_)
                           .arg(badPackets_)
                           .arg(strayBytes_);
    if (!line_.isPseudoTerminal())
        received += QStringLiteral("、パリティエラー %1 個").arg(parityErrors_);
    Console::err(received + QStringLiteral("。"));
    line_.close();
    Q_EMIT finished(exitStatus);
}
