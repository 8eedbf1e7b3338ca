#pragma once

#include <QString>
#include <QStringList>

// The characters that text sending cannot type, for messages that name them.

// The characters of `text` that STRING (TextSender::SendString) cannot type:
// each once, in order of first appearance; a surrogate pair is one character.
QStringList untypableCharacters(const QString &text);
// The same for SENDSTR (TextSender::SendCharacters), which types only the
// characters of the character table.
QStringList unsentAddressCharacters(const QString &text);

// The characters for a message: 「<」、「€」、半角スペース、タブ.
QString describeCharacters(const QStringList &characters);

// `text` with every control and format character shown by its name as
// above, in angle brackets ("<U+001B>]2;<U+0007>", "a<タブ>b"), for a
// terminal: text from a file never moves the cursor, retitles the window
// or clears the screen.
QString visibleText(const QString &text);
