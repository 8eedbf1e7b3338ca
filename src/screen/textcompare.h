#pragma once

#include <QString>

// Comparing a text the macro expects with a text read from the screen.

// `text` as it is compared: full-width and half-width forms of the same
// letter, digit and sign made one (Unicode compatibility forms, so 「ＯＫ」
// is OK and 「ｶ」 is 「カ」), white space and line breaks dropped, and
// characters that look alike on a screen made one (the katakana 「ヘ」 and
// the hiragana 「へ」, 「ロ」 and the kanji 「口」, the digit 0 and the
// letter O, the long-vowel mark and a hyphen, a small kana and its
// full-size one, ...), since nothing in a picture tells them apart; and
// Japanese brackets, 「、」 and 「・」 left out, since specks of a camera's
// noise are read as them.
QString comparableText(const QString &text);

// Whether the text read from the screen holds `wanted`, compared as above.
// An empty `wanted` is in every text.
bool screenTextContains(const QString &read, const QString &wanted);
