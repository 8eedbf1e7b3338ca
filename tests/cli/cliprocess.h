#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

// quillonemu-cli started by a test, with its output collected as it comes.
class CliProcess {
public:
    // Starts the program with `arguments`; `prepare`, when given, sets the
    // process up first (its channels, its environment).
    explicit CliProcess(const QStringList &arguments, const std::function<void(QProcess &)> &prepare = {});
    ~CliProcess();

    // Waits until standard output holds `text`; false after `timeoutMs`.
    bool waitForOutput(const QString &text, int timeoutMs = 10000);
    // Waits for the program to end; kills it and returns false after
    // `timeoutMs`.
    bool waitForEnd(int timeoutMs = 10000);
    void sendSignal(int signalNumber);

    int exitCode() const { return process_.exitCode(); }
    QString out();
    QString err();
    // Standard output read as JSON lines.
    QList<QJsonObject> jsonLines();

private:
    void collect();

    QProcess process_;
    QByteArray out_;
    QByteArray err_;
};
