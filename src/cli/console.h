#pragma once

#include <QString>

// Standard output and standard error as the program's terminal: text goes out
// in UTF-8, whatever the locale, and is flushed at once so that a reader on a
// pipe sees every line as it happens.
namespace Console {

// `line` and a line end.
void out(const QString &line);
void err(const QString &line);
// A message of command `command` (empty: of quillonemu-cli itself) on
// standard error, prefixed with the program's and the command's name:
// "quillonemu-cli run: …".
void report(const QString &command, const QString &message);
// `text` as it is, without a line end.
void writeOut(const QString &text);

bool stdoutIsTerminal();
// Columns of the terminal on standard output; 80 when unknown.
int terminalColumns();

// `text` cut to at most `columns` columns.
QString fitWidth(const QString &text, int columns);

} // namespace Console
