#include "platform/wholefile.h"

#include "platform/systemreason.h"

#include <QSaveFile>

namespace {

QString cannotWrite(const QString &path, const QString &reason)
{
    return QStringLiteral("「%1」に書き込めません%2。").arg(path, SystemReason::inSentence(reason));
}

} // namespace

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    // Unbuffered: each write reaches the system at once, so that its
    // failure is the system's own. commit() alone does not report every
    // failure to write out a buffer (a full disk leaves a cut file and
    // success), and a write the system takes only in part (the disk filled
    // up in the middle) sets no reason: what is left is written again, and
    // that write fails with the system's reason.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = cannotWrite(path, file.errorString());
        return false;
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            break;
        written += n;
    }
    if (written != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        *error = cannotWrite(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = cannotWrite(path, file.errorString());
        return false;
    }
    return true;
}
