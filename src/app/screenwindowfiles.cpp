#include "app/screenwindowfiles.h"

#include "platform/cp932.h"
#include "screen/sourceaddress.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace ScreenWindowFiles {

bool fitsMacroFile(const QString &text)
{
    return decodeCp932(encodeCp932(text)) == text;
}

QString unwritableCharacters(const QString &text)
{
    QString found;
    // (By code point: a character outside the BMP is two QChars.)
    for (const uint code : text.toUcs4()) {
        const QString ch = QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
        if (!fitsMacroFile(ch) && !found.contains(ch))
            found += ch;
    }
    return found;
}

QString freeName(const QString &folder, const QString &base)
{
    QString path;
    for (int n = 1; path.isEmpty() || QFileInfo::exists(path); ++n)
        path = QDir(folder).filePath(QStringLiteral("%1%2.png").arg(base).arg(n));
    return path;
}

bool savePng(const QImage &pixels, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && pixels.save(&file, "PNG") && file.commit())
        return true;
    *error = QStringLiteral("画像ファイル「%1」に書き込めません: %2。").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

QString screenLineSource(const QString &source)
{
    const SourceAddress address = parseSourceAddress(source);
    if (!address.isValid())
        return {};
    QString word = source;
    if (address.kind == SourceAddress::Kind::StillImage || address.kind == SourceAddress::Kind::VideoFile)
        word = QFileInfo(source).absoluteFilePath();
    if (word.contains(u' ') || word.contains(u'\t') || word.contains(QChar(0x3000)) || !fitsMacroFile(word))
        return {};
    return word;
}

QString offeredText(const QString &read)
{
    return read.simplified().remove(u' ');
}

} // namespace ScreenWindowFiles
