#include "widgets/appearance.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTranslator>

namespace {

// A handset, dark body and a lit screen, with a signal arc: drawn at any size.
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    p.setPen(QPen(QColor(20, 30, 60), 1.2));
    p.setBrush(QColor(40, 70, 140));
    p.drawRoundedRect(QRectF(8.5, 3.5, 15, 26), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 230, 255));
    p.drawRect(QRectF(11, 6.5, 10, 8));
    p.setBrush(QColor(240, 240, 240));
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(11 + col * 3.6, 17 + row * 3.6, 2.4, 2.4));
    }
    p.setPen(QPen(QColor(230, 120, 20), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(22, 1, 8, 8), 0 * 16, 90 * 16);
    p.drawArc(QRectF(20, -1, 12, 12), 0 * 16, 90 * 16);
    return pixmap;
}

// Texts of Qt's file dialog that Debian's qtbase_ja.qm does not hold (its
// file type column names folders and drives through the icon provider).
// Installed before that catalogue, so that one wins where it has a text.
class MissingToolkitTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return QString();
        static const struct {
            const char *source;
            const char16_t *japanese;
        } texts[] = {
            {"Folder", u"フォルダー"},
            {"Drive", u"ドライブ"},
            {"File", u"ファイル"},
            {"%1 File", u"%1 ファイル"},
        };
        for (const auto &text : texts) {
            if (qstrcmp(sourceText, text.source) == 0)
                return QString::fromUtf16(text.japanese);
        }
        return QString();
    }
};

} // namespace

QIcon programIcon()
{
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 32, 48, 64, 128, 256})
            i.addPixmap(drawIcon(size));
        return i;
    }();
    return icon;
}

QFont userInterfaceFont()
{
    QFont font;
    // Proportional faces only: Latin captions and paths set in a fixed-width
    // face look like a terminal's. IPAPGothic and Noto Sans CJK JP on Linux,
    // the system's Japanese UI fonts on Windows and macOS.
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Yu Gothic UI"),
                      QStringLiteral("Meiryo UI"), QStringLiteral("MS UI Gothic"), QStringLiteral("Hiragino Sans")});
    font.setPointSize(9);
    return font;
}

void useJapaneseSystemLocale()
{
    const QByteArray previous = qgetenv("LC_ALL");
    const bool wasSet = qEnvironmentVariableIsSet("LC_ALL");
    qputenv("LC_ALL", "ja_JP.UTF-8");
    (void)QLocale::system().name();
    if (wasSet)
        qputenv("LC_ALL", previous);
    else
        qunsetenv("LC_ALL");
}

bool installToolkitTranslations()
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    QCoreApplication::installTranslator(new MissingToolkitTexts(QCoreApplication::instance()));
    // Where the system's Qt keeps them, then beside the program (a Windows
    // build ships them there, or in a translations folder).
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList places = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                programDir + QStringLiteral("/translations"), programDir};
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QString &place : places) {
        if (translator->load(QStringLiteral("qtbase_ja"), place))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}
