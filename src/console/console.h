#pragma once

#include <QString>

// Standard output and standard error as the program's terminal: text goes out
// in UTF-8, whatever the locale, and is flushed at once so that a reader on a
// pipe sees every line as it happens.
namespace Console {

// `line` and a line end. Control characters in it other than line ends are
// shown by name (see visibleText), so that text from a file cannot act on
// the terminal.
void out(const QString &line);
void err(const QString &line);
// A message of command `command` (empty: of quillonemu-cli itself) on
// standard error, prefixed with the program's and the command's name:
// "quillonemu-cli run: …".
void report(const QString &command, const QString &message);
// `text` as it is, without a line end: the caller's own terminal controls
// pass (the status line's rewrite), so it shows whatever came from a file
// through visibleText first.
void writeOut(const QString &text);

bool stdoutIsTerminal();
// Columns of the terminal on standard output; 80 when unknown.
int terminalColumns();

// `text` cut to at most `columns` columns.
QString fitWidth(const QString &text, int columns);
// The end of `text` that takes at most `columns` columns; the time it takes
// grows with what it returns, not with `text`.
QString fitWidthFromEnd(const QString &text, int columns);
// The columns `text` takes.
int widthOf(const QString &text);

} // namespace Console
