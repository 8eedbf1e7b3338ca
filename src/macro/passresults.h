#pragma once

#include "macro/passrecord.h"

#include <QFile>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class MacroRunner;

// The results file of a job: CSV (RFC 4180, UTF-8 with a byte order mark, so
// that a spreadsheet on a Japanese Windows keeps the Japanese), a header
// row, then one row a pass, written and flushed to the disk as the pass
// ends and appended on every resume: the last row of a pass counter is its
// truth. Every row names the job (a digest of the macro's and the address
// file's contents) and the file's format.
class PassResults {
public:
    static constexpr int kFormat = 1;

    // The job's name for its results: a digest of the contents of the macro
    // file, its recovery macro and the address file (empty path: none).
    static QString jobId(const QString &macroPath, const QString &recoveryPath, const QString &addrPath);

    // Opens `path` to append to it, writing the byte order mark and the
    // header when it is new or empty; false and `error` when it cannot.
    // `handsets`: a job on many handsets, whose new file has a handset
    // column (an earlier file keeps its own columns).
    bool open(const QString &path, const QString &jobId, QString *error, bool handsets = false);
    // Writes `record` as one row and flushes it to the disk.
    bool write(const PassRecord &record, QString *error);
    void close() { file_.close(); }
    QString path() const { return file_.fileName(); }

    // What an earlier results file holds.
    struct Contents {
        QString jobId;
        QList<PassRecord> rows; // in file order
    };
    // Reads `path`; no value and `error` when it cannot be read, is no
    // results file, or comes from a newer format.
    static std::optional<Contents> read(const QString &path, QString *error);

private:
    QFile file_;
    QString jobId_;
    QStringList columns_;
};

// `rows` with only the last row of each counter, in counter order.
QList<PassRecord> lastRowOfEachPass(const QList<PassRecord> &rows);

// Writes `rows` as JUnit XML to `path` (whole, or not at all): one test suite
// `jobName`, one test case a pass named by its counter and address, a
// failure (the handset did not do what it was told) or an error (it could
// not be driven) with the message, the evidence picture as an attachment
// line first in the case's output.
bool writeJUnit(const QString &path, const QString &jobName, const QList<PassRecord> &rows, QString *error);

// Opens `results` at `path` for the job `runner` runs and writes every pass
// it ends there; the first write that fails is handed to `failed`, once
// (which should stop the run). False and `error` when it cannot be opened.
bool recordPasses(MacroRunner &runner, PassResults &results, const QString &path, QString *error,
                  const std::function<void(const QString &message)> &failed);
