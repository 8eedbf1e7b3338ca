#include "programprocess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

ProgramProcess::ProgramProcess(const QString &program, const QStringList &arguments,
                               const std::function<void(QProcess &)> &prepare)
{
    if (prepare)
        prepare(process_);
    process_.start(program, arguments);
}

void ProgramProcess::offscreen(QProcess &process)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
}

ProgramProcess::~ProgramProcess()
{
    if (isRunning()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool ProgramProcess::waitForOutput(const QString &text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const bool ended = !isRunning();
        if (out().contains(text))
            return true;
        if (ended || deadline.hasExpired())
            return false;
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
}

bool ProgramProcess::waitForEnd(int timeoutMs)
{
    const bool ended = endsWithin(timeoutMs);
    if (!ended) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    collect();
    return ended;
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
