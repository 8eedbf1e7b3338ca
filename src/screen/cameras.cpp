#include "screen/cameras.h"

#include <QDir>
#include <QFile>
#include <algorithm>

QList<CameraEntry> cameraEntries()
{
    QList<CameraEntry> cameras;
#ifdef Q_OS_LINUX
    const QDir dir(QStringLiteral("/sys/class/video4linux"));
    QList<int> numbers;
    for (const QString &entry : dir.entryList({QStringLiteral("video*")}, QDir::Dirs | QDir::System)) {
        bool ok = false;
        const int n = entry.mid(5).toInt(&ok);
        if (ok)
            numbers.append(n);
    }
    std::sort(numbers.begin(), numbers.end());
    for (const int n : numbers) {
        const QString node = dir.filePath(QStringLiteral("video%1").arg(n));
        QFile index(node + QStringLiteral("/index"));
        if (index.open(QIODevice::ReadOnly) && index.readAll().trimmed() != "0")
            continue;
        QFile name(node + QStringLiteral("/name"));
        const QString text = name.open(QIODevice::ReadOnly) ? QString::fromUtf8(name.readAll()).trimmed() : QString();
        cameras.append({QStringLiteral("%1 (/dev/video%2)").arg(text, QString::number(n)), n});
    }
#endif
    return cameras;
}

QStringList listCameras()
{
    QStringList names;
    for (const CameraEntry &c : cameraEntries())
        names.append(c.name);
    return names;
}
