#include "programprocess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <csignal>

ProgramProcess::ProgramProcess(const QString &program, const QStringList &arguments,
                               const std::function<void(QProcess &)> &prepare)
{
    if (prepare)
        prepare(process_);
    process_.start(program, arguments);
}

QString ProgramProcess::built(const char *name)
{
    return QStringLiteral(QUILLONEMU_BIN_DIR "/") + QString::fromLatin1(name);
}

void ProgramProcess::offscreen(QProcess &process)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
}

ProgramProcess::~ProgramProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ProgramProcess::collect()
{
    out_ += process_.readAllStandardOutput();
    err_ += process_.readAllStandardError();
}

bool ProgramProcess::waitForOutput(const QString &text, int timeoutMs)
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

bool ProgramProcess::waitForEnd(int timeoutMs)
{
    const bool ended = process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
    if (!ended) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    collect();
    return ended;
}

bool ProgramProcess::endsWithin(int ms)
{
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(ms);
}

void ProgramProcess::sendSignal(int signalNumber)
{
    ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
}

QString ProgramProcess::out()
{
    collect();
    return QString::fromUtf8(out_);
}

QString ProgramProcess::err()
{
    collect();
    return QString::fromUtf8(err_);
}

QList<QJsonObject> ProgramProcess::jsonLines()
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : out().toUtf8().split('\n')) {
        if (!line.isEmpty())
            objects.append(QJsonDocument::fromJson(line).object());
    }
    return objects;
}
