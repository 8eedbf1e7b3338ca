#pragma once

#include <QString>

// Why a run ended on an error, as data: where it happened and the reason. The
// main window shows it in a message box, quillonemu-cli run prints it as
// "FILE:LINE: error: …", and the checker says the same reasons ahead of the
// run.
struct RunFailure {
    // The file concerned: the macro file for a statement's failure, the
    // address file when that cannot be read; empty when no file is (the
    // counter, the port at the run's start).
    QString file;
    // The macro file's line as an editor counts it (empty lines included);
    // 0 when the failure is not about a line.
    qint64 line = 0;
    // The statement's keyword, with a line.
    QString keyword;
    // In Japanese, for the user. With a line: the statement's own reason;
    // without: the whole message. May hold line breaks.
    QString reason;

    // The message box's text: with a line, 「マクロファイル「F」の N 行目
    // (KEYWORD):」 and the reason on the next line; otherwise the reason.
    QString messageText() const;
};

// `text` on one line: its lines joined, without a space after Japanese
// punctuation.
QString joinedLines(const QString &text);
