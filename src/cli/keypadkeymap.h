#pragma once

#include "cli/terminalkeys.h"

#include <QString>
#include <QStringList>

// Which handset key a key of the terminal presses in quillonemu-cli keypad:
// the cursor and editing keys as in the text entry window, the digits, "#"
// and "*", F1 to F10, and a letter for each handset key the computer's
// keyboard has no key for.

// The key's name in the key table, or empty when the terminal key presses
// none. Letters count in either case.
QString handsetKeyFor(const TerminalKey &key);

// The ampersand form of the plain key `name` ("UP" gives "&UP", "OFFOOK"
// gives "&OFFHOOK"), or empty when it has none (the digits, "#", "*").
QString ampersandFormOf(const QString &name);

// The key map shown when the keypad starts, no line wider than 80 columns.
QStringList keyMapLines();
