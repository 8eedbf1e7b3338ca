#pragma once

#include <QString>
#include <QStringList>

// The process: its command line and its end.

// The command-line text after the program name, as the program's own parser
// expects it. On Windows it is the raw text the process was started with; on
// other systems the shell has already split and unquoted the arguments, so the
// text is rebuilt: every argument in double quotes, joined by single spaces.
QString processCommandLine(const QStringList &arguments);

// The rebuild on its own: "a" "b c" from {a, b c}.
QString quoteArguments(const QStringList &arguments);

// The process ends at once with `code`: no window closes, no handler runs.
// Output already written is flushed first.
[[noreturn]] void terminateProcess(int code);
