#include "rack/handsetsfile.h"

#include "platform/portnumber.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <algorithm>

namespace {

const QStringList kKeys{QStringLiteral("port"), QStringLiteral("screen")};

// The file's text, line by line, to name the line of a section or a key:
// QSettings reads the file, but does not say where anything stood.
class IniLines {
public:
    explicit IniLines(const QString &path)
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            lines_ = QString::fromUtf8(file.readAll()).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    }

    // The header's name of line `i` ("[A]" → "A"), or none.
    std::optional<QString> header(qsizetype i) const
    {
        const QString t = lines_.value(i).trimmed();
        if (!t.startsWith(u'[') || !t.endsWith(u']'))
            return std::nullopt;
        return t.mid(1, t.size() - 2).trimmed();
    }
    // The lines (from 1) of every header named `name`.
    QList<qint64> headers(const QString &name) const
    {
        QList<qint64> found;
        for (qsizetype i = 0; i < lines_.size(); ++i) {
            if (header(i) == name)
                found.append(i + 1);
        }
        return found;
    }
    // The line (from 1) of key `key` in the section whose header is on
    // `headerLine` (0: before any header); 0 when not found.
    qint64 key(qint64 headerLine, const QString &key) const
    {
        for (qsizetype i = headerLine; i < lines_.size() && !header(i); ++i) {
            const QString t = lines_[i].trimmed();
            const qsizetype eq = t.indexOf(u'=');
            if (eq > 0 && t.left(eq).trimmed() == key)
                return i + 1;
        }
        return 0;
    }
    // The first header without a name, or 0.
    qint64 namelessHeader() const
    {
        for (qsizetype i = 0; i < lines_.size(); ++i) {
            if (header(i) && header(i)->isEmpty())
                return i + 1;
        }
        return 0;
    }

private:
    QStringList lines_;
};

QString at(const QString &path, qint64 line, const QString &reason)
{
    if (line <= 0)
        return QStringLiteral("携帯電話機の一覧「%1」: %2").arg(path, reason);
    return QStringLiteral("携帯電話機の一覧「%1」の %2 行目: %3").arg(path).arg(line).arg(reason);
}

// A value as written: QSettings reads "a,b" as a list.
QString valueText(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString().trimmed();
}

// The device a device path or a port number names; empty and `reason` when
// it names none.
QString deviceOf(const QString &port, QString *reason)
{
    if (isDevicePath(port))
        return port;
    const std::optional<qint32> number = parseWholeNumber(port);
    if (!number) {
        *reason = QStringLiteral("port=%1 はポート番号でもデバイスのパスでもありません（例: port=3、port=/dev/ttyUSB0）。")
                      .arg(port);
        return {};
    }
    const QString device = devicePathForPort(*number);
    if (device.isEmpty()) {
        *reason = *number < 1 ? QStringLiteral("ポート %1 に当たるデバイスはありません（ポート番号は 1 以上です）。").arg(*number)
                              : QStringLiteral("ポート %1 に当たるデバイスがありません（環境変数 %2 が空です）。")
                                    .arg(*number)
                                    .arg(portVariableName(*number));
    }
    return device;
}

// The same device whatever path names it.
QString sameDevice(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

} // namespace

std::optional<HandsetsFile> HandsetsFile::read(const QString &path, QString *error)
{
    const QFileInfo info(path);
    QFile probe(path);
    if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("携帯電話機の一覧「%1」を開けません: %2")
                     .arg(path, info.exists() ? (info.isDir() ? QStringLiteral("フォルダです。") : probe.errorString())
                                              : QStringLiteral("ファイルがありません。"));
        return std::nullopt;
    }
    probe.close();

    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() == QSettings::FormatError) {
        *error = at(path, 0, QStringLiteral("INI ファイルとして読めません。"));
        return std::nullopt;
    }
    const IniLines text(path);
    if (const qint64 line = text.namelessHeader()) {
        *error = at(path, line, QStringLiteral("名前のないセクションです（[A] のように携帯電話機の名前を書いてください）。"));
        return std::nullopt;
    }
    // Keys before the first section (QSettings puts them in "General").
    for (const QString &key : ini.childKeys()) {
        *error = at(path, std::max(text.key(0, key), text.headers(QStringLiteral("General")).value(0)),
                    QStringLiteral("%1= がどの携帯電話機のセクションにもありません（[A] のような見出しの後に書いてください）。")
                        .arg(key));
        return std::nullopt;
    }

    HandsetsFile file;
    file.path = path;
    QHash<QString, const HandsetEntry *> devices;
    for (const QString &name : ini.childGroups()) {
        HandsetEntry entry;
        entry.name = name;
        const QList<qint64> headers = text.headers(name);
        entry.line = headers.value(0);
        if (headers.size() > 1) {
            *error = at(path, headers[1],
                        QStringLiteral("[%1] が 2 度あります（%2 行目にも）。携帯電話機の名前は 1 台に 1 つです。").arg(name).arg(headers[0]));
            return std::nullopt;
        }
        if (name.contains(QRegularExpression(QStringLiteral("[,/\\\\:*?\"<>|]")))) {
            *error = at(path, entry.line,
                        QStringLiteral("[%1]: 携帯電話機の名前には , / \\ : * ? \" < > | を使えません"
                                       "（--use で区切り、ファイル名に入る名前です）。")
                            .arg(name));
            return std::nullopt;
        }
        ini.beginGroup(name);
        const QStringList keys = ini.childKeys();
        for (const QString &key : keys) {
            if (!kKeys.contains(key)) {
                *error = at(path, text.key(entry.line, key),
                            QStringLiteral("[%1] の %2= は知らないキーです（書けるのは port= と screen=）。").arg(name, key));
                return std::nullopt;
            }
        }
        entry.port = valueText(ini.value(QStringLiteral("port")));
        entry.screen = valueText(ini.value(QStringLiteral("screen")));
        ini.endGroup();
        const qint64 portLine = text.key(entry.line, QStringLiteral("port"));
        if (entry.port.isEmpty()) {
            *error = at(path, portLine > 0 ? portLine : entry.line,
                        QStringLiteral("[%1] にポートがありません（port=/dev/ttyUSB0 か port=3 のように書いてください）。").arg(name));
            return std::nullopt;
        }
        QString reason;
        entry.device = deviceOf(entry.port, &reason);
        if (entry.device.isEmpty()) {
            *error = at(path, portLine, QStringLiteral("[%1] の %2").arg(name, reason));
            return std::nullopt;
        }
        file.handsets.append(entry);
    }
    if (file.handsets.isEmpty()) {
        *error = at(path, 0, QStringLiteral("携帯電話機が 1 台も書かれていません（[A] の見出しと port= を書いてください）。"));
        return std::nullopt;
    }
    // In the file's order; then the same device twice, named at the second.
    std::sort(file.handsets.begin(), file.handsets.end(),
              [](const HandsetEntry &a, const HandsetEntry &b) { return a.line < b.line; });
    for (const HandsetEntry &entry : std::as_const(file.handsets)) {
        const QString device = sameDevice(entry.device);
        if (const HandsetEntry *first = devices.value(device)) {
            *error = at(path, text.key(entry.line, QStringLiteral("port")),
                        QStringLiteral("[%1] のポート %2 は [%3]（%4 行目）と同じデバイス %5 です。1 台の携帯電話機に 1 つのポートです。")
                            .arg(entry.name, entry.port, first->name)
                            .arg(first->line)
                            .arg(entry.device));
            return std::nullopt;
        }
        devices.insert(device, &entry);
    }
    return file;
}

std::optional<QList<HandsetEntry>> HandsetsFile::take(const QStringList &names, QString *error) const
{
    QStringList wanted;
    for (const QString &name : names) {
        if (!name.trimmed().isEmpty())
            wanted.append(name.trimmed());
    }
    if (wanted.isEmpty())
        return handsets;
    QStringList all;
    for (const HandsetEntry &entry : handsets)
        all.append(entry.name);
    QList<HandsetEntry> taken;
    for (const QString &name : std::as_const(wanted)) {
        const qsizetype i = all.indexOf(name);
        if (i < 0) {
            *error = QStringLiteral("携帯電話機の一覧「%1」に「%2」はありません（あるのは %3）。")
                         .arg(path, name, all.join(QStringLiteral("、")));
            return std::nullopt;
        }
        if (wanted.count(name) > 1) {
            *error = QStringLiteral("--use に「%1」が 2 度あります。").arg(name);
            return std::nullopt;
        }
        taken.append(handsets[i]);
    }
    return taken;
}
