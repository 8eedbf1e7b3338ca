#include "macro/passresults.h"

#include "macro/characters.h"
#include "macro/filelines.h"
#include "macro/macrorunner.h"

#include <QCryptographicHash>
#include <QSaveFile>
#include <QXmlStreamWriter>
#include <map>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QStringList kHeader{QStringLiteral("counter"),  QStringLiteral("address_lines"), QStringLiteral("address"),
                          QStringLiteral("outcome"),  QStringLiteral("tries"),         QStringLiteral("failed_at"),
                          QStringLiteral("keyword"),  QStringLiteral("message"),       QStringLiteral("evidence"),
                          QStringLiteral("start"),    QStringLiteral("seconds"),       QStringLiteral("packets"),
                          QStringLiteral("job"),      QStringLiteral("format")};
// Written by a job on many handsets: who did the pass.
const QString kHandsetColumn = QStringLiteral("handset");

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

// RFC 4180 records: fields split at commas, quoted fields may hold commas,
// doubled quotes and line ends.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
            continue;
        }
        any = true;
        if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            record.append(field);
            field.clear();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            record.append(field);
            records.append(record);
            record.clear();
            field.clear();
            any = false;
        } else {
            field += c;
        }
    }
    if (any || !field.isEmpty() || !record.isEmpty()) {
        record.append(field);
        records.append(record);
    }
    return records;
}

// `text` without the characters XML 1.0 forbids.
QString xmlText(const QString &text)
{
    QString clean;
    for (const char32_t c : text.toUcs4()) {
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (allowed)
            clean += QString::fromUcs4(&c, 1);
    }
    return clean;
}

QString addressLines(const PassRecord &r)
{
    if (r.firstAddrLine == 0)
        return QString();
    return r.firstAddrLine == r.lastAddrLine ? QString::number(r.firstAddrLine)
                                             : QStringLiteral("%1-%2").arg(r.firstAddrLine).arg(r.lastAddrLine);
}

} // namespace

QString PassResults::jobId(const QString &macroPath, const QString &recoveryPath, const QString &addrPath)
{
    // Read as the run reads them: a pipe is read once and kept for the run.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &path : {macroPath, recoveryPath, addrPath}) {
        if (!path.isEmpty())
            hash.addData(readFileLines(path).lines.join(u'\n').toUtf8());
        hash.addData(QByteArrayView("\0", 1));
    }
    return QString::fromLatin1(hash.result().toHex().left(16));
}

bool PassResults::open(const QString &path, const QString &jobId, QString *error, bool handsets)
{
    jobId_ = jobId;
    columns_ = kHeader;
    // The rows follow the file's header: an earlier run's columns stay.
    QFile earlier(path);
    if (earlier.open(QIODevice::ReadOnly) && earlier.size() > 0) {
        QByteArray first = earlier.readLine().trimmed();
        if (first.startsWith("\xEF\xBB\xBF"))
            first.remove(0, 3);
        columns_ = QString::fromUtf8(first).split(u',');
    } else if (handsets) {
        columns_.insert(columns_.indexOf(QStringLiteral("job")), kHandsetColumn);
    }
    earlier.close();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("結果ファイル「%1」を開けません: %2。").arg(path, file_.errorString());
        return false;
    }
    if (file_.size() > 0)
        return true;
    const QByteArray header = "\xEF\xBB\xBF" + columns_.join(u',').toUtf8() + "\r\n";
    if (file_.write(header) != header.size() || !file_.flush()) {
        *error = QStringLiteral("結果ファイル「%1」に書けません: %2。").arg(path, file_.errorString());
        return false;
    }
    return true;
}

bool PassResults::write(const PassRecord &r, QString *error)
{
    const QStringList fields{QString::number(r.counter),
                             addressLines(r),
                             visibleText(r.address),
                             resultName(r.result),
                             QString::number(r.tries),
                             r.line > 0 ? QStringLiteral("%1:%2").arg(r.file).arg(r.line) : r.file,
                             r.keyword,
                             visibleText(r.message),
                             r.evidence,
                             r.start.toString(Qt::ISODateWithMs),
                             QString::number(r.seconds, 'f', 3),
                             QString::number(r.packets),
                             jobId_,
                             QString::number(kFormat)};
    QStringList quoted;
    for (const QString &column : std::as_const(columns_)) {
        const qsizetype i = kHeader.indexOf(column);
        quoted.append(csvField(i >= 0 ? fields[i] : column == kHandsetColumn ? visibleText(r.handset) : QString()));
    }
    const QByteArray row = quoted.join(u',').toUtf8() + "\r\n";
    bool ok = file_.write(row) == row.size() && file_.flush();
#ifdef Q_OS_UNIX
    // On the disk, not only in the system's cache: a power cut keeps it.
    ok = ok && ::fsync(file_.handle()) == 0;
#endif
    if (!ok) {
        *error = QStringLiteral("結果ファイル「%1」に書けません: %2。").arg(file_.fileName(), file_.errorString());
        return false;
    }
    return true;
}

std::optional<PassResults::Contents> PassResults::read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("結果ファイル「%1」を開けません: %2。").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QList<QStringList> records = parseCsv(QString::fromUtf8(bytes));
    if (records.isEmpty() || records.first().value(0) != kHeader.first()) {
        *error = QStringLiteral("「%1」は結果ファイルではありません（見出しの行がありません）。").arg(path);
        return std::nullopt;
    }
    const QStringList header = records.first();
    const auto column = [&](const QStringList &record, const QString &name) {
        return record.value(header.indexOf(name));
    };
    Contents contents;
    for (qsizetype i = 1; i < records.size(); ++i) {
        const QStringList &record = records[i];
        const auto damaged = [&](const QString &what) {
            *error = QStringLiteral("結果ファイル「%1」の %2 件目の行が壊れています（%3）。").arg(path).arg(i).arg(what);
            return std::nullopt;
        };
        bool ok = false;
        const int format = column(record, QStringLiteral("format")).toInt(&ok);
        if (!ok)
            return damaged(QStringLiteral("format"));
        if (format > kFormat) {
            *error = QStringLiteral("結果ファイル「%1」は新しい版の形式（%2）で書かれています。この版が読めるのは形式 %3 までです。")
                         .arg(path)
                         .arg(format)
                         .arg(kFormat);
            return std::nullopt;
        }
        PassRecord r;
        r.counter = column(record, QStringLiteral("counter")).toInt(&ok);
        if (!ok)
            return damaged(QStringLiteral("counter"));
        const std::optional<PassRecord::Result> result = resultFromName(column(record, QStringLiteral("outcome")));
        if (!result)
            return damaged(QStringLiteral("outcome"));
        r.result = *result;
        const QStringList lines = column(record, QStringLiteral("address_lines")).split(u'-', Qt::SkipEmptyParts);
        r.firstAddrLine = lines.value(0).toLongLong();
        r.lastAddrLine = lines.value(1, lines.value(0)).toLongLong();
        r.address = column(record, QStringLiteral("address"));
        r.tries = column(record, QStringLiteral("tries")).toInt();
        r.file = column(record, QStringLiteral("failed_at"));
        r.keyword = column(record, QStringLiteral("keyword"));
        r.message = column(record, QStringLiteral("message"));
        r.evidence = column(record, QStringLiteral("evidence"));
        r.start = QDateTime::fromString(column(record, QStringLiteral("start")), Qt::ISODateWithMs);
        r.seconds = column(record, QStringLiteral("seconds")).toDouble();
        r.packets = column(record, QStringLiteral("packets")).toLongLong();
        r.handset = column(record, kHandsetColumn);
        const QString job = column(record, QStringLiteral("job"));
        if (!contents.jobId.isEmpty() && job != contents.jobId)
            return damaged(QStringLiteral("ほかのジョブの行があります"));
        contents.jobId = job;
        contents.rows.append(r);
    }
    return contents;
}

QList<PassRecord> lastRowOfEachPass(const QList<PassRecord> &rows)
{
    std::map<qint32, PassRecord> last;
    for (const PassRecord &r : rows)
        last[r.counter] = r;
    QList<PassRecord> list;
    for (const auto &[counter, record] : last)
        list.append(record);
    return list;
}

bool writeJUnit(const QString &path, const QString &jobName, const QList<PassRecord> &rows, QString *error)
{
    int failures = 0;
    int errors = 0;
    int skipped = 0;
    double seconds = 0;
    for (const PassRecord &r : rows) {
        failures += r.result == PassRecord::Result::Failed;
        errors += r.result == PassRecord::Result::NotDelivered;
        skipped += r.result == PassRecord::Result::Stopped;
        seconds += r.seconds;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("JUnit ファイル「%1」を開けません: %2。").arg(path, file.errorString());
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), xmlText(jobName));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(rows.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
    if (!rows.isEmpty() && rows.first().start.isValid())
        xml.writeAttribute(QStringLiteral("timestamp"), rows.first().start.toString(Qt::ISODate));
    for (const PassRecord &r : rows) {
        xml.writeStartElement(QStringLiteral("testcase"));
        // Unique: the counter is.
        const QString name = r.address.isEmpty() ? QStringLiteral("pass %1").arg(r.counter)
                                                  : QStringLiteral("pass %1: %2").arg(r.counter).arg(visibleText(r.address));
        xml.writeAttribute(QStringLiteral("name"), xmlText(name));
        xml.writeAttribute(QStringLiteral("classname"), xmlText(jobName));
        xml.writeAttribute(QStringLiteral("time"), QString::number(r.seconds, 'f', 3));
        if (!r.handset.isEmpty()) {
            xml.writeStartElement(QStringLiteral("properties"));
            xml.writeStartElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), QStringLiteral("handset"));
            xml.writeAttribute(QStringLiteral("value"), xmlText(r.handset));
            xml.writeEndElement();
            xml.writeEndElement();
        }
        const QString where = r.file.isEmpty() ? QString() : r.file + u' ';
        switch (r.result) {
        case PassRecord::Result::Ok:
        case PassRecord::Result::OkAfterRetry:
            break;
        case PassRecord::Result::Failed:
        case PassRecord::Result::NotDelivered:
            xml.writeStartElement(r.result == PassRecord::Result::Failed ? QStringLiteral("failure") : QStringLiteral("error"));
            xml.writeAttribute(QStringLiteral("message"), xmlText(r.message));
            xml.writeAttribute(QStringLiteral("type"), xmlText(r.keyword));
            xml.writeCharacters(xmlText(where + r.message));
            xml.writeEndElement();
            break;
        case PassRecord::Result::Stopped:
            xml.writeStartElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), QStringLiteral("stopped"));
            xml.writeEndElement();
            break;
        }
        QString out;
        if (!r.evidence.isEmpty())
            out = QStringLiteral("[[ATTACHMENT|%1]]\n").arg(r.evidence);
        out += QStringLiteral("outcome: %1, tries: %2, address lines: %3, packets: %4\n")
                   .arg(resultName(r.result))
                   .arg(r.tries)
                   .arg(addressLines(r))
                   .arg(r.packets);
        xml.writeTextElement(QStringLiteral("system-out"), xmlText(out));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit()) {
        *error = QStringLiteral("JUnit ファイル「%1」に書けません: %2。").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool recordPasses(MacroRunner &runner, PassResults &results, const QString &path, QString *error,
                  const std::function<void(const QString &message)> &failed)
{
    const MacroSettings &settings = runner.settings();
    const QString job = PassResults::jobId(settings.MacroFile, readRecoveryPlan(settings.MacroFile).path, settings.AddrFile);
    if (!results.open(path, job, error))
        return false;
    auto broken = std::make_shared<bool>(false);
    QObject::connect(&runner, &MacroRunner::passEnded, &runner, [&results, broken, failed](const PassRecord &record) {
        QString message;
        if (!*broken && !results.write(record, &message)) {
            *broken = true;
            failed(message);
        }
    });
    return true;
}
