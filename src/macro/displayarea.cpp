#include "macro/displayarea.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// A size as "240x320" (an upper-case X or × is taken too).
std::optional<QSize> parseResolution(const QString &word)
{
    static const QRegularExpression size(QStringLiteral("^(\\d{1,5})[xX×](\\d{1,5})$"));
    const QRegularExpressionMatch m = size.match(word);
    if (!m.hasMatch())
        return std::nullopt;
    const QSize s(m.captured(1).toInt(), m.captured(2).toInt());
    if (s.width() < 16 || s.height() < 16 || s.width() > 8192 || s.height() > 8192)
        return std::nullopt;
    return s;
}

std::optional<QPointF> parseCorner(const QString &word)
{
    const QStringList xy = word.split(QLatin1Char(','));
    if (xy.size() != 2)
        return std::nullopt;
    bool okX = false;
    bool okY = false;
    const double x = xy[0].toDouble(&okX);
    const double y = xy[1].toDouble(&okY);
    if (!okX || !okY || x < 0 || y < 0 || x > 100000 || y > 100000)
        return std::nullopt;
    return QPointF(x, y);
}

QString number(double v)
{
    return QString::number(v, 'g', 7);
}

} // namespace

std::optional<DisplayArea> DisplayArea::parse(const QString &text, QString *problem)
{
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString forms = QStringLiteral("AUTO、WHOLE、または左上・右上・右下・左下の 4 つの角「x,y x,y x,y x,y」"
                                         "（あとに解像度「240x320」を添えられます）");
    DisplayArea area;
    if (words.isEmpty()) {
        *problem = QStringLiteral("画面の位置が書かれていません。%1 と書いてください。").arg(forms);
        return std::nullopt;
    }
    qsizetype next = 0;
    const QString first = words[0].toUpper();
    if (first == QLatin1String("AUTO")) {
        area.mode = Mode::Found;
        next = 1;
    } else if (first == QLatin1String("WHOLE")) {
        area.mode = Mode::WholeFrame;
        next = 1;
    } else {
        area.mode = Mode::Corners;
        for (int i = 0; i < 4; ++i) {
            const std::optional<QPointF> corner = i < words.size() ? parseCorner(words[i]) : std::nullopt;
            if (!corner) {
                *problem = QStringLiteral("画面の位置「%1」が読めません。%2 と書いてください。").arg(text.simplified(), forms);
                return std::nullopt;
            }
            area.corners[size_t(i)] = *corner;
        }
        next = 4;
        // Clockwise on the screen from the top-left, enclosing a display:
        // every turn from one side to the next is to the right, and the
        // four sides enclose more than a few pixels.
        double twiceArea = 0;
        bool clockwise = true;
        for (size_t i = 0; i < 4; ++i) {
            const QPointF &a = area.corners[i], &b = area.corners[(i + 1) % 4], &c = area.corners[(i + 2) % 4];
            const QPointF ab = b - a, bc = c - b;
            clockwise = clockwise && ab.x() * bc.y() - ab.y() * bc.x() > 0;
            twiceArea += a.x() * b.y() - b.x() * a.y();
        }
        if (!clockwise || twiceArea < 2 * 16 * 16) {
            *problem = QStringLiteral("画面の位置「%1」の 4 つの角が、左上・右上・右下・左下の順に画面を囲んでいません"
                                      "（順が違うか、辺が交わるか、囲む広さが 16x16 画素に足りません）。")
                           .arg(text.simplified());
            return std::nullopt;
        }
    }
    if (next < words.size()) {
        const std::optional<QSize> resolution = parseResolution(words[next]);
        if (!resolution || area.mode == Mode::WholeFrame) {
            *problem = QStringLiteral("画面の位置「%1」の「%2」が読めません。解像度は「240x320」のように、"
                                      "16 から 8192 までの幅と高さで書いてください（WHOLE には添えられません）。")
                           .arg(text.simplified(), words[next]);
            return std::nullopt;
        }
        area.resolution = *resolution;
        ++next;
    }
    if (next < words.size()) {
        *problem = QStringLiteral("画面の位置「%1」の終わりに余分な「%2」があります。").arg(text.simplified(), words[next]);
        return std::nullopt;
    }
    return area;
}

QString DisplayArea::toText() const
{
    QStringList words;
    switch (mode) {
    case Mode::Found:
        words << QStringLiteral("AUTO");
        break;
    case Mode::WholeFrame:
        return QStringLiteral("WHOLE");
    case Mode::Corners:
        for (const QPointF &c : corners)
            words << number(c.x()) + QLatin1Char(',') + number(c.y());
        break;
    }
    if (!resolution.isEmpty())
        words << QStringLiteral("%1x%2").arg(resolution.width()).arg(resolution.height());
    return words.join(QLatin1Char(' '));
}
