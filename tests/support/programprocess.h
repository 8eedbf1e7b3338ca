#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>
#include <functional>

// A program started by a test, with its output collected as it comes. Every
// wait has a deadline; a program still running at the end is killed.
class ProgramProcess {
public:
    // Starts `program` with `arguments`; `prepare`, when given, sets the
    // process up first (its channels, its environment).
    ProgramProcess(const QString &program, const QStringList &arguments,
                   const std::function<void(QProcess &)> &prepare = {});
    ~ProgramProcess();

    // One of the project's programs in the build tree ("quillonemu", ...).
    static QString built(const char *name) { return QStringLiteral(QUILLONEMU_BIN_DIR "/") + QString::fromLatin1(name); }
    // A `prepare` that starts the program on the offscreen platform.
    static void offscreen(QProcess &process);

    // Waits until standard output holds `text`; false after `timeoutMs`.
    bool waitForOutput(const QString &text, int timeoutMs = 10000);
    // Waits for the program to end; kills it and returns false after
    // `timeoutMs`.
    bool waitForEnd(int timeoutMs = 10000);
    // Whether the program has ended, waiting up to `ms` for it (and leaving
    // it running after that).
    bool endsWithin(int ms) { return !isRunning() || process_.waitForFinished(ms); }
    void sendSignal(int signalNumber) { ::kill(static_cast<pid_t>(process_.processId()), signalNumber); }
    pid_t processId() const { return static_cast<pid_t>(process_.processId()); }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    // Ended on its own (not by a signal) with this status.
    bool endedNormally() const { return process_.exitStatus() == QProcess::NormalExit; }
    int exitCode() const { return process_.exitCode(); }
    bool failedToStart() const { return process_.error() == QProcess::FailedToStart; }
    QString out()
    {
        collect();
        return QString::fromUtf8(out_);
    }
    QString err()
    {
        collect();
        return QString::fromUtf8(err_);
    }
    // Standard output read as JSON lines.
    QList<QJsonObject> jsonLines();

private:
    void collect()
    {
        out_ += process_.readAllStandardOutput();
        err_ += process_.readAllStandardError();
    }

    QProcess process_;
    QByteArray out_;
    QByteArray err_;
};

// quillonemu-cli from the build tree.
class CliProcess : public ProgramProcess {
public:
    explicit CliProcess(const QStringList &arguments, const std::function<void(QProcess &)> &prepare = {})
        : ProgramProcess(built("quillonemu-cli"), arguments, prepare)
    {
    }
};
