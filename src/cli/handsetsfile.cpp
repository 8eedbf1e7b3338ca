// A minimal reader of the handsets file, enough for a task to find its
// handset.

#include "cli/handsetsfile.h"

#include "platform/portnumber.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

std::optional<HandsetsFile> HandsetsFile::read(const QString &path, QString *error)
{
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("携帯電話機の一覧ファイル「%1」がありません。").arg(path);
        return std::nullopt;
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *error = QStringLiteral("携帯電話機の一覧ファイル「%1」を読めません。").arg(path);
        return std::nullopt;
    }
    // The header lines, for the messages.
    QHash<QString, qint64> headerLines;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        qint64 number = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            ++number;
            if (line.startsWith(u'[') && line.endsWith(u']'))
                headerLines.insert(line.mid(1, line.size() - 2), number);
        }
    }
    HandsetsFile handsets;
    handsets.path = path;
    for (const QString &name : ini.childGroups()) {
        HandsetEntry entry;
        entry.name = name;
        entry.line = headerLines.value(name);
        entry.port = ini.value(name + QStringLiteral("/port")).toString().trimmed();
        entry.screen = ini.value(name + QStringLiteral("/screen")).toString().trimmed();
        if (entry.port.isEmpty()) {
            *error = QStringLiteral("%1:%2: 携帯電話機「%3」に port がありません。").arg(path).arg(entry.line).arg(name);
            return std::nullopt;
        }
        const std::optional<qint32> number = parseWholeNumber(entry.port);
        entry.device = number ? devicePathForPort(*number) : entry.port;
        handsets.handsets.append(entry);
    }
    std::sort(handsets.handsets.begin(), handsets.handsets.end(),
              [](const HandsetEntry &a, const HandsetEntry &b) { return a.line < b.line; });
    return handsets;
}

std::optional<QList<HandsetEntry>> HandsetsFile::take(const QStringList &names, QString *error) const
{
    if (names.isEmpty())
        return handsets;
    QList<HandsetEntry> taken;
    for (const QString &name : names) {
        const auto found =
            std::find_if(handsets.begin(), handsets.end(), [&](const HandsetEntry &h) { return h.name == name; });
        if (found == handsets.end()) {
            *error = QStringLiteral("携帯電話機の一覧ファイル「%1」に「%2」はありません。").arg(path, name);
            return std::nullopt;
        }
        taken.append(*found);
    }
    return taken;
}
