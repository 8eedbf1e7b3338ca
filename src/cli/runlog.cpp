#include "cli/runlog.h"

#include "console/jsonline.h"
#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "macro/statement.h"

#include <QDateTime>
#include <QJsonObject>
#include <cmath>

bool RunLog::open(const QString &path)
{
    file_.setFileName(path);
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    error_ = QStringLiteral("ログファイル「%1」を開けません: %2").arg(path, file_.errorString());
    return false;
}

void RunLog::follow(const MacroRunner &runner, const SerialLink &link)
{
    runner_ = &runner;
    connect(&runner, &MacroRunner::statementStarted, this, [this](qint64 line, const QString &keyword) {
        line_ = line;
        keyword_ = keyword;
    });
    connect(&link, &SerialLink::packetSent, this, &RunLog::writePacket);
    connect(&runner, &MacroRunner::passCompleted, this, &RunLog::writePass);
    connect(&runner, &MacroRunner::screenWaitEnded, this, &RunLog::writeScreenWait);
}

void RunLog::writeScreenWait(const ScreenWaitReport &report)
{
    QJsonObject entry{
        {QStringLiteral("event"), QStringLiteral("screen")},
        {QStringLiteral("time"), isoTime(static_cast<double>(QDateTime::currentMSecsSinceEpoch()))},
        {QStringLiteral("counter"), runner_ ? runner_->counter() : 0},
        {QStringLiteral("line"), report.line},
        {QStringLiteral("keyword"), report.keyword},
        {QStringLiteral("found"), report.found},
        {QStringLiteral("seconds"), std::round(report.secondsWaited * 1000) / 1000.0},
        {QStringLiteral("frames"), report.framesSeen},
        {QStringLiteral("framesUndecodable"), report.framesUndecodable},
    };
    if (report.keyword == QLatin1String("WAITTEXT") || report.keyword == QLatin1String("READTEXT")) {
        // What the screen said: the text read last, as read.
        if (!report.wantedText.isEmpty())
            entry.insert(QStringLiteral("text"), report.wantedText);
        entry.insert(QStringLiteral("read"), report.readText);
        entry.insert(QStringLiteral("readings"), report.readings);
        // The part of the frame read, and of that only what lay inside it.
        if (!report.region.isEmpty())
            entry.insert(QStringLiteral("region"), regionText(report.region));
        if (!report.regionRead.isEmpty())
            entry.insert(QStringLiteral("regionRead"), regionText(report.regionRead));
    } else {
        entry.insert(QStringLiteral("template"), report.templatePath);
        entry.insert(QStringLiteral("similarity"), std::round(report.similarity * 1000) / 1000.0);
        entry.insert(QStringLiteral("x"), report.place.x());
        entry.insert(QStringLiteral("y"), report.place.y());
        // The similarity is this part's: the template's weakest (frame pixels).
        if (!report.weakestPart.isEmpty())
            entry.insert(QStringLiteral("weakestPart"), regionText(report.weakestPart));
    }
    if (report.sourceReopened > 0)
        entry.insert(QStringLiteral("sourceReopened"), report.sourceReopened);
    if (!report.evidence.isEmpty())
        entry.insert(QStringLiteral("evidence"), report.evidence);
    write(entry);
}

void RunLog::writePacket(const KeyPacket &packet)
{
    write({
        {QStringLiteral("event"), QStringLiteral("packet")},
        {QStringLiteral("time"), isoTime(static_cast<double>(QDateTime::currentMSecsSinceEpoch()))},
        {QStringLiteral("counter"), runner_ ? runner_->counter() : 0},
        {QStringLiteral("line"), line_},
        {QStringLiteral("keyword"), keyword_},
        {QStringLiteral("packet"), packet.toHex()},
    });
}

void RunLog::writePass(qint32 counter, double durationMs, qint64 packets)
{
    write({
        {QStringLiteral("event"), QStringLiteral("pass")},
        {QStringLiteral("time"), isoTime(static_cast<double>(QDateTime::currentMSecsSinceEpoch()))},
        {QStringLiteral("counter"), counter},
        {QStringLiteral("duration"), std::round(durationMs) / 1000.0},
        {QStringLiteral("packets"), packets},
        {QStringLiteral("outcome"), runner_ ? resultName(runner_->lastPassResult()) : QString()},
    });
}

void RunLog::writeDelivery(const MacroRunner &runner)
{
    write({
        {QStringLiteral("event"), QStringLiteral("delivery")},
        {QStringLiteral("time"), isoTime(static_cast<double>(QDateTime::currentMSecsSinceEpoch()))},
        {QStringLiteral("packets"), runner.packetsSent()},
        {QStringLiteral("delivered"), runner.packetsDelivered()},
        {QStringLiteral("resume_counter"), runner.resumePoint().counter},
    });
}

void RunLog::write(const QJsonObject &entry)
{
    if (!file_.isOpen())
        return;
    QJsonObject withHandset = entry;
    if (runner_ && !runner_->handsetName().isEmpty())
        withHandset.insert(QStringLiteral("handset"), runner_->handsetName());
    const QByteArray line = (jsonLine(withHandset) + u'\n').toUtf8();
    if (file_.write(line) == line.size() && file_.flush())
        return;
    error_ = QStringLiteral("ログファイル「%1」に書けません: %2").arg(file_.fileName(), file_.errorString());
    file_.close();
    Q_EMIT writeFailed(error_);
}

bool RunLog::close()
{
    if (!file_.isOpen())
        return true;
    const bool ok = file_.error() == QFileDevice::NoError && file_.flush();
    if (!ok)
        error_ = QStringLiteral("ログファイル「%1」に書けませんでした: %2").arg(file_.fileName(), file_.errorString());
    file_.close();
    return ok;
}
