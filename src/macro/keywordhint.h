#pragma once

#include <QString>

// What a macro checker says about first words that are no keyword: remark
// lines written on purpose, and hints for near misses (OFFHOOK -> OFFOOK,
// a full-width keyword, a tab after the keyword, a key after a leading
// space, ...).

// A line that does something, or tries to: not blank, not a remark (a first
// word starting with an apostrophe, a semicolon or //).
bool looksLikeStatement(const QString &line);

// The warning for a line whose word 0 is no keyword; empty for a remark.
QString unknownKeywordMessage(const QString &line);

// Why an argument is empty: two spaces after the keyword, or spaces only.
QString emptyArgumentReason(const QString &line);
