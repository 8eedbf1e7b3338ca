#include "cliprocess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <csignal>

CliProcess::CliProcess(const QStringList &arguments, const std::function<void(QProcess &)> &prepare)
{
    if (prepare)
        prepare(process_);
    process_.start(QStringLiteral(QUILLONEMU_CLI), arguments);
}

CliProcess::~CliProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void CliProcess::collect()
{
    out_ += process_.readAllStandardOutput();
    err_ += process_.readAllStandardError();
}

bool CliProcess::waitForOutput(const QString &text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        if (QString::fromUtf8(out_).contains(text))
            return true;
        if (process_.state() == QProcess::NotRunning) {
            collect();
            return QString::fromUtf8(out_).contains(text);
        }
        if (deadline.hasExpired())
            return false;
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
}

bool CliProcess::waitForEnd(int timeoutMs)
{
    const bool ended = process_.waitForFinished(timeoutMs);
    if (!ended) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    collect();
    return ended;
}

void CliProcess::sendSignal(int signalNumber)
{
    ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
}

QString CliProcess::out()
{
    collect();
    return QString::fromUtf8(out_);
}

QString CliProcess::err()
{
    collect();
    return QString::fromUtf8(err_);
}

QList<QJsonObject> CliProcess::jsonLines()
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : out().toUtf8().split('\n')) {
        if (!line.isEmpty())
            objects.append(QJsonDocument::fromJson(line).object());
    }
    return objects;
}
