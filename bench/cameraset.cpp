#include "cameraset.h"

#include <QFontMetrics>
#include <QPainter>

namespace CameraSet {

namespace {

// Characters a near miss puts in place of one of the text's, by kind.
const QString kDigits = QStringLiteral("0123456789");
const QString kKatakana = QStringLiteral("アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモラリルレロ");
const QString kHiragana = QStringLiteral("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもらりるれろ");
const QString kKanji = QStringLiteral("信送受完了件残日月火水木金土帳録設定通話履歴保存新着");

QString nearMissOf(const QString &text, int index)
{
    QString changed = text;
    const int at = index % int(text.size());
    const QChar c = text[at];
    const QString &pool = c.isDigit() ? kDigits
                          : (c.unicode() >= 0x30A0 && c.unicode() <= 0x30FF) ? kKatakana
                          : (c.unicode() >= 0x3040 && c.unicode() <= 0x309F) ? kHiragana
                                                                               : kKanji;
    const int from = int(pool.indexOf(c));
    changed[at] = pool[(from + 1 + index % (int(pool.size()) - 1)) % int(pool.size())];
    if (changed[at] == c)
        changed[at] = pool[(from + 1) % int(pool.size())];
    return changed;
}

QFont fontOf(const Font &font, int pixels)
{
    QFont f;
    f.setFamilies({font.family, QStringLiteral("IPAGothic")});
    if (font.bitmap) {
        f.setPixelSize(std::max(8, (pixels + 4) / 8 * 8));
        f.setStyleStrategy(QFont::NoAntialias);
    } else {
        f.setPixelSize(pixels);
    }
    return f;
}

// The screen showing `target` on its middle line; where that text lies.
QImage draw(const Font &font, const Layout &layout, int index, const QString &target, QRect *box)
{
    const QStringList all = texts();
    const int n = int(all.size());
    const QSize size = layout.size;
    QImage image(size, QImage::Format_RGB888);
    const QColor background = layout.dark ? QColor(0x10, 0x14, 0x18) : QColor(0xF4, 0xF6, 0xF8);
    const QColor ink = layout.dark ? QColor(0xE0, 0xE4, 0xE8) : QColor(0x20, 0x20, 0x20);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, !font.bitmap);
    const int px = layout.textPixels;

    // The status bar: the signal, the battery, the time.
    const int status = std::max(12, size.height() / 16);
    painter.fillRect(0, 0, size.width(), status, layout.dark ? QColor(0, 0, 0) : QColor(0x20, 0x30, 0x48));
    for (int i = 0; i < 4; ++i)
        painter.fillRect(4 + i * status / 3, status - 3 - (i + 1) * (status - 6) / 4, status / 4, (i + 1) * (status - 6) / 4, Qt::white);
    painter.setPen(Qt::white);
    painter.drawRect(size.width() - status * 2 - 4, 3, status, status - 7);
    painter.setFont(fontOf(font, status * 3 / 4));
    painter.drawText(QRect(0, 0, size.width() - status * 2 - 8, status), Qt::AlignVCenter | Qt::AlignRight,
                     QStringLiteral("%1:%2").arg(8 + index % 12).arg(index * 7 % 60, 2, 10, QLatin1Char('0')));

    // The title.
    const int title = px * 2;
    painter.fillRect(0, status, size.width(), title, layout.dark ? QColor(0x30, 0x38, 0x40) : QColor(0x30, 0x60, 0xA0));
    painter.setFont(fontOf(font, px));
    painter.drawText(QRect(px / 2, status, size.width() - px, title), Qt::AlignVCenter | Qt::AlignLeft, all[(index + 3) % n]);

    // The lines: the target between two others.
    painter.setPen(ink);
    const QFontMetrics metrics(fontOf(font, px));
    int y = status + title + px;
    const QString lines[3] = {all[(index + 1) % n], target, all[(index + 5) % n]};
    for (int i = 0; i < 3; ++i) {
        const QRect line(px, y, size.width() - 2 * px, px * 2);
        painter.drawText(line, Qt::AlignVCenter | Qt::AlignLeft, lines[i]);
        if (i == 1)
            *box = metrics.boundingRect(line, Qt::AlignVCenter | Qt::AlignLeft, lines[i]);
        y += px * 2 + px / 2;
    }

    // The soft keys.
    const int keys = px * 2;
    painter.fillRect(0, size.height() - keys, size.width(), keys, layout.dark ? QColor(0x28, 0x2C, 0x30) : QColor(0xD8, 0xDC, 0xE0));
    painter.setPen(layout.dark ? QColor(0xE0, 0xE4, 0xE8) : QColor(0x20, 0x20, 0x20));
    painter.setFont(fontOf(font, px * 3 / 4));
    painter.drawText(QRect(px / 2, size.height() - keys, size.width() - px, keys), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("メニュー"));
    painter.drawText(QRect(px / 2, size.height() - keys, size.width() - px, keys), Qt::AlignVCenter | Qt::AlignRight,
                     QStringLiteral("戻る"));
    return image;
}

} // namespace

QString conditionName(Condition condition)
{
    switch (condition) {
    case Condition::Plain:
        return QStringLiteral("plain");
    case Condition::Moire:
        return QStringLiteral("moire");
    case Condition::Glare:
        return QStringLiteral("glare");
    case Condition::Nudged:
        return QStringLiteral("nudged");
    }
    return {};
}

QList<Condition> conditions()
{
    return {Condition::Plain, Condition::Moire, Condition::Glare, Condition::Nudged};
}

QList<Font> fonts()
{
    return {{QStringLiteral("IPAGothic"), QStringLiteral("IPAGothic"), false},
            {QStringLiteral("VL Gothic"), QStringLiteral("VL Gothic"), false},
            {QStringLiteral("TakaoGothic"), QStringLiteral("TakaoGothic"), false},
            {QStringLiteral("M PLUS 1"), QStringLiteral("M PLUS 1"), false},
            {QStringLiteral("Misaki (8-dot)"), QStringLiteral("MisakiGothic"), true}};
}

QList<Layout> layouts()
{
    return {{QStringLiteral("320x240"), QSize(320, 240), false, 22},
            {QStringLiteral("240x320"), QSize(240, 320), false, 16},
            {QStringLiteral("240x320 dark"), QSize(240, 320), true, 16},
            {QStringLiteral("480x800"), QSize(480, 800), false, 28},
            {QStringLiteral("480x800 dark"), QSize(480, 800), true, 28}};
}

QStringList texts()
{
    return {QStringLiteral("送信完了"),     QStringLiteral("残り3件"),     QStringLiteral("アドレス帳"),
            QStringLiteral("メール作成"),   QStringLiteral("受信ボックス"), QStringLiteral("設定メニュー"),
            QStringLiteral("通話履歴"),     QStringLiteral("新着メール2件"), QStringLiteral("保存しました"),
            QStringLiteral("データフォルダ"), QStringLiteral("伝言メモ"),     QStringLiteral("着信音量5")};
}

Screen screen(const Font &font, const Layout &layout, int index)
{
    Screen s;
    const QStringList all = texts();
    s.text = all[index % int(all.size())];
    s.nearMissText = nearMissOf(s.text, index / int(all.size()) + index);
    s.picture = draw(font, layout, index, s.text, &s.textBox);
    QRect ignored;
    s.nearMiss = draw(font, layout, index, s.nearMissText, &ignored);
    return s;
}

CameraModel camera(quint32 seed, Condition condition)
{
    return CameraModel(CameraModel::randomSettings(seed, condition == Condition::Moire, condition == Condition::Glare), seed);
}

CameraModel::Shot film(const QImage &display, quint32 seed, Condition condition)
{
    const CameraModel model = camera(seed, condition);
    CameraModel::Pose pose;
    if (condition == Condition::Nudged) {
        pose.scale = seed % 2 ? 1.05 : 0.95;
        pose.shift = QPointF(double(int(seed % 7) - 3), double(int(seed % 5) - 2));
    }
    return model.shoot(display, pose, seed);
}

} // namespace CameraSet
