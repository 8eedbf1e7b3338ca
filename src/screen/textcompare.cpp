#include "screen/textcompare.h"


namespace {

// Pairs that look alike in a screen font: each character of the first row
// is taken as the one below it. Letters that differ only in their size (a
// small kana and its full-size one, c and C) are told apart by nothing
// within a line read alone, nor p and P, which differ in their place as
// well: a handset's long text wraps anywhere, and a wrapped line of
// letters' middles and descenders (「ｐ．ｃｏ．ｊｐ」) has no capital's height
// to tell its p by (VL Gothic through the model handset's camera: 224 of
// 240 typed addresses found within a wait, 205 with p and P apart).
const QString kLookAlike = QStringLiteral("へべぺり口力工二卜夕八一‐−–—―-OolI|,cpsuvwxz"
                                          "ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮ");
const QString kTakenAs = QStringLiteral("ヘベペリロカエニトタハーーーーーーー00111.CPSUVWXZ"
                                        "あいうえおつやゆよわアイウエオツヤユヨワ");
// Brackets and marks that specks of a camera's noise are read as, and that
// tell nothing about the text: left out of both sides.
const QString kSpecks = QStringLiteral("「」『』【】〔〕、・");

} // namespace

QString comparableText(const QString &text)
{
    const QString compatible = text.normalized(QString::NormalizationForm_KC);
    QString result;
    result.reserve(compatible.size());
    for (const QChar c : compatible) {
        if (c.isSpace() || kSpecks.contains(c))
            continue;
        const qsizetype i = kLookAlike.indexOf(c);
        result.append(i >= 0 ? kTakenAs.at(i) : c);
    }
    return result;
}

bool screenTextContains(const QString &read, const QString &wanted)
{
    return comparableText(read).contains(comparableText(wanted));
}
