#pragma once

#include <QString>

struct Statement;

// The messages a run shows the user. Each names the file, the line or the
// port it is about, so that the user can mend it and run again; the counter
// keeps the passes completed, so the next run goes on where this one stopped.
namespace RunMessages {

QString noMacroFile();
QString macroFileOpen(const QString &path, const QString &reason);
QString macroFileReopen(const QString &path, const QString &reason);
QString macroFileRead(const QString &path, const QString &reason);
QString addrFileOpen(const QString &path, const QString &reason);
QString addrFileRead(const QString &path, const QString &reason);
QString addrFileShorterThanCounter(const QString &path, qint64 lines, qint64 counter);
QString badCounter(const QString &text);
QString counterFull();

// A statement's own failure: `text` preceded by the file, line and keyword.
QString atLine(const QString &path, qint64 line, const QString &keyword, const QString &text);
// Why a BASEWAIT, SLEEP or PORTNO cannot run (Statement::problem), in the
// run's words.
QString argumentProblem(const Statement &st);
// The same for SCREEN, WAITIMAGE, WAITGONE and SNAPSHOT.
QString screenArgumentProblem(const Statement &st);
QString addrFileEnded(const QString &path, qint64 addrLine);
QString getStrWithoutAddrFile(const QString &path);

} // namespace RunMessages
