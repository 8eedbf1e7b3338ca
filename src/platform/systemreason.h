#pragma once

#include <QString>

// A reason the operating system gave (through Qt: a file's or a port's
// errorString()), for the program's Japanese messages. Qt's catalogue, once
// loaded, has a few in Japanese (a reason that comes in English is looked up
// there too); the rest come in the C library's English, which is kept but
// set apart as the system's own words.
namespace SystemReason {

// Inside a sentence: 「（デバイスがありません）」, 「（システムの理由:
// Input/output error）」; empty for an empty reason.
QString inSentence(const QString &reason);

// A line of its own below the message: 「アクセスが拒否されました。」,
// 「（システムの理由: Input/output error）」; empty for an empty reason.
QString asLine(const QString &reason);

} // namespace SystemReason
