#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

// Reads a Shift-JIS text file line by line. A line ends at CR LF, at a lone
// CR or at a lone LF; the last line needs no line end. Lines may be of any
// length; bytes that are no Shift-JIS character decode to U+FFFD.
//
// A file that is no regular file (a pipe, `<(cat job.txt)`, a terminal) can
// be read only once: the first open reads it to its end and keeps what it
// held, and every open of the same path in this process reads that (a run
// reads its macro file again at every REPEAT). One larger than kLongestStream
// is refused.
class TextLineReader {
public:
    TextLineReader() = default;
    TextLineReader(const TextLineReader &) = delete;
    TextLineReader &operator=(const TextLineReader &) = delete;

    // Opens `path` for reading from its first line. On failure returns false
    // and errorString() says why.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return file_.isOpen() || kept_.has_value(); }

    static constexpr qint64 kLongestStream = 256 * 1024 * 1024;

    // The next line without its line end, or no value at the end of the file
    // or on a read error (then failed() is true).
    std::optional<QByteArray> readRawLine();
    std::optional<QString> readLine();

    // Reads and discards up to `count` lines; returns how many there were.
    qint64 skipLines(qint64 count);

    // Lines returned or skipped so far.
    qint64 linesRead() const { return linesRead_; }

    bool failed() const { return failed_; }
    QString errorString() const { return error_; }

private:
    // Reads more of the file into the buffer, or notes the end of the file
    // or a read error.
    void fill();
    // Finds the next line end at or after the buffer position; sets the line
    // and advances. False when the buffer holds no complete line yet.
    bool takeLine(QByteArrayView *line);
    // takeLine() with as many reads as it needs; counts the line.
    bool nextLine(QByteArrayView *line);

    QFile file_;
    // What a file that is no regular file held, kept for every later open;
    // read from keptPos_ on.
    std::optional<QByteArray> kept_;
    qsizetype keptPos_ = 0;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    qsizetype scanned_ = 0;
    bool atEof_ = false;
    bool failed_ = false;
    qint64 linesRead_ = 0;
    QString error_;
};
