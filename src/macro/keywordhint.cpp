#include "macro/keywordhint.h"

#include "link/keytable.h"
#include "macro/seconds.h"
#include "macro/statement.h"

#include <algorithm>
#include <cstdlib>

namespace {

// `word` for a message, with tabs and full-width spaces made visible.
QString shown(const QString &word)
{
    return QString(word).replace(u'\t', QStringLiteral("<タブ>")).replace(u'\u3000', QStringLiteral("<全角スペース>"));
}

bool isKeyword(const QString &upper)
{
    return KeyTable::find(upper).has_value() || controlKeywords().contains(upper);
}

// Word 0 of a line written as a remark on purpose.
bool isRemark(const QString &word)
{
    return word.startsWith(u'\'') || word.startsWith(u';') || word.startsWith(QLatin1String("//"));
}

// Edits (insert, delete, replace, swap of neighbours) that turn `a` into `b`.
int editDistance(const QString &a, const QString &b)
{
    const qsizetype n = a.size();
    const qsizetype m = b.size();
    QList<QList<int>> d(n + 1, QList<int>(m + 1, 0));
    for (qsizetype i = 0; i <= n; ++i)
        d[i][0] = static_cast<int>(i);
    for (qsizetype j = 0; j <= m; ++j)
        d[0][j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= n; ++i) {
        for (qsizetype j = 1; j <= m; ++j) {
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

// The keywords `upper` is a slip of the pen away from: the nearest ones,
// within one edit for words of 3 to 5 characters and two for longer ones.
// When both forms of a key are as near, the one with the same ampersand
// status wins (OFFHOOK -> OFFOOK, &OFFOOK -> &OFFHOOK).
QStringList nearKeywords(const QString &upper)
{
    const int allowed = upper.size() >= 6 ? 2 : upper.size() >= 3 ? 1 : 0;
    if (allowed == 0)
        return {};
    QStringList nearest;
    int best = allowed + 1;
    for (const QString &keyword : KeyTable::names() + controlKeywords()) {
        if (std::abs(keyword.size() - upper.size()) > allowed)
            continue;
        const int distance = editDistance(upper, keyword);
        if (distance < best) {
            best = distance;
            nearest = {keyword};
        } else if (distance == best) {
            nearest.append(keyword);
        }
    }
    const bool ampersand = upper.startsWith(u'&');
    QStringList alike;
    for (const QString &keyword : nearest) {
        if (keyword.startsWith(u'&') == ampersand)
            alike.append(keyword);
    }
    return alike.isEmpty() ? nearest.mid(0, 3) : alike.mid(0, 3);
}

// Full-width letters, digits and signs as their ASCII twins, the full-width
// space as a space.
QString halfWidth(const QString &word)
{
    QString half = word;
    for (QChar &c : half) {
        if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
            c = QChar(c.unicode() - 0xFEE0);
        else if (c == u'\u3000')
            c = u' ';
    }
    return half;
}

// The first word of `text` when it is split at any white space.
QString firstWord(const QString &text)
{
    const auto isWord = [](QChar c) { return !c.isSpace(); };
    const auto start = std::find_if(text.begin(), text.end(), isWord);
    const auto end = std::find_if_not(start, text.end(), isWord);
    return QString(start, end - start);
}

// Why `word`, meant as `keyword`, is none: full-width characters, or white
// space other than a space after the keyword.
QString misspeltKeywordHint(const QString &word, const QString &keyword)
{
    const bool wide = std::any_of(word.begin(), word.end(), [](QChar c) { return c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E; });
    if (wide)
        return QStringLiteral("全角で書かれています。半角で「%1」と書いてください。").arg(keyword);
    if (word.contains(u'\u3000'))
        return QStringLiteral("全角スペースは語の区切りになりません。「%1」の後ろは半角スペースにしてください。").arg(keyword);
    if (word.contains(u'\t'))
        return QStringLiteral("タブは語の区切りになりません。「%1」の後ろは半角スペースにしてください。").arg(keyword);
    return QStringLiteral("語の区切りは半角スペースだけです。「%1」の後ろは半角スペースにしてください。").arg(keyword);
}

// A hint for a word 0 that is no keyword, or empty when there is none.
QString keywordHint(const QString &word)
{
    const QString meant = upperCaseKeyword(firstWord(halfWidth(word)));
    if (isKeyword(meant))
        return misspeltKeywordHint(word, meant);

    const QString upper = upperCaseKeyword(word);
    for (const QString &control : {QStringLiteral("BASEWAIT"), QStringLiteral("SLEEP"), QStringLiteral("PORTNO")}) {
        const QString rest = word.mid(control.size());
        if (upper.startsWith(control) && !rest.isEmpty() && parseSeconds(rest))
            return QStringLiteral("「%1」と数の間に半角スペースを入れてください（%1 %2）。").arg(control, rest);
    }
    if (upper.size() > 1 && std::all_of(upper.begin(), upper.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return QStringLiteral("数字のキーは 1 行に 1 つずつ書きます（続けて打つなら STRING %1）。").arg(word);
    const QStringList near = nearKeywords(upper);
    if (!near.isEmpty())
        return QStringLiteral("「%1」の誤りではありませんか？").arg(near.join(QStringLiteral("」か「")));
    return {};
}

} // namespace

bool looksLikeStatement(const QString &line)
{
    if (line.trimmed().isEmpty())
        return false;
    for (const QString &word : splitWords(line)) {
        if (!word.isEmpty())
            return !isRemark(word);
    }
    return false;
}

QString unknownKeywordMessage(const QString &line)
{
    const QStringList words = splitWords(line);
    const QString word0 = words.first();
    if (isRemark(word0))
        return {};
    if (line.trimmed().isEmpty())
        return QStringLiteral("空白だけの行です。何もしませんが、文として数えられ、基本待ち時間だけ待ちます。");
    if (word0.isEmpty()) {
        const QString first = *std::find_if(words.begin(), words.end(), [](const QString &w) { return !w.isEmpty(); });
        if (isRemark(first))
            return {};
        const QString upper = upperCaseKeyword(first);
        if (isKeyword(upper))
            return QStringLiteral("行頭に空白があるため「%1」は実行されず、この行は何もしません。行頭の空白を取ってください。")
                .arg(shown(upper));
        return QStringLiteral("行頭が空白のため、この行は何もしません。");
    }
    const QString message =
        QStringLiteral("「%1」はキー名でも制御キーワードでもないため、この行は何もしません。").arg(shown(word0));
    const QString hint = keywordHint(word0);
    return hint.isEmpty() ? message : message + hint;
}

QString emptyArgumentReason(const QString &line)
{
    return splitWords(line).size() > 2 ? QStringLiteral("キーワードの後ろに空白が 2 つ続いています")
                                       : QStringLiteral("キーワードの後ろに空白しかありません");
}
