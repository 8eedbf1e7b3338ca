#include "macro/statement.h"

#include <algorithm>

#include "link/keytable.h"
#include "macro/seconds.h"
#include "platform/portnumber.h"

namespace {

struct Control {
    const char *keyword;
    Statement::Kind kind;
};

constexpr Control kControls[] = {
    {"BASEWAIT", Statement::Kind::BaseWait}, {"PORTNO", Statement::Kind::PortNo},
    {"SLEEP", Statement::Kind::Sleep},       {"REPEAT", Statement::Kind::Repeat},
    {"GETSTR", Statement::Kind::GetStr},     {"SENDSTR", Statement::Kind::SendStr},
    {"STRING", Statement::Kind::String},     {"EXIT", Statement::Kind::Exit},
    {"SCREEN", Statement::Kind::Screen},     {"WAITIMAGE", Statement::Kind::WaitImage},
    {"WAITGONE", Statement::Kind::WaitGone}, {"SNAPSHOT", Statement::Kind::Snapshot},
    {"WAITTEXT", Statement::Kind::WaitText}, {"READTEXT", Statement::Kind::ReadText},
    {"ONFAIL", Statement::Kind::OnFail},     {"DISPLAY", Statement::Kind::Display},
};

// Whether word 1 is there and not empty; otherwise the problem says which.
bool hasArgument(Statement &st)
{
    if (!st.argument)
        st.problem = Statement::Problem::Missing;
    else if (st.argument->isEmpty())
        st.problem = Statement::Problem::Empty;
    return st.isValid();
}

// ONFAIL FILE [RETRY N]: word 2, when it is RETRY, needs a whole number from
// 1 in word 3; another word 2 is a remark.
void typeRecovery(Statement &st, const QStringList &words)
{
    if (!hasArgument(st))
        return;
    st.text = *st.argument;
    if (upperCaseKeyword(words.value(2)) != QLatin1String("RETRY"))
        return;
    const std::optional<qint32> retries = parseWholeNumber(words.value(3));
    if (!retries || *retries < 1 || *retries > 100) {
        st.problem = Statement::Problem::NotARetry;
        return;
    }
    st.retries = *retries;
}

bool typeRegion(Statement &st, const QString &word)
{
    const std::optional<QRect> region = parseRegion(word);
    if (!region) {
        st.problem = Statement::Problem::NotARegion;
        return false;
    }
    st.region = *region;
    return true;
}

// SCREEN and SNAPSHOT need word 1; the waits also word 2 (seconds) and may
// have word 3 (the level, or WAITTEXT's region); READTEXT may have a region
// in word 2.
void typeScreenArguments(Statement &st, const QStringList &words)
{
    if (!hasArgument(st))
        return;
    st.text = *st.argument;
    if (st.kind == Statement::Kind::ReadText) {
        if (words.size() > 2)
            typeRegion(st, words[2]);
        return;
    }
    if (!st.isScreenWait() && st.kind != Statement::Kind::WaitText)
        return;
    const std::optional<float> seconds = parseSeconds(words.value(2));
    if (words.size() < 3 || !seconds || *seconds < 0) {
        st.problem = Statement::Problem::NoSeconds;
        return;
    }
    st.seconds = *seconds;
    if (st.kind == Statement::Kind::WaitText) {
        if (words.size() > 3)
            typeRegion(st, words[3]);
        return;
    }
    if (words.size() > 3) {
        const std::optional<double> level = parseLevel(words[3]);
        if (!level) {
            st.problem = Statement::Problem::NotALevel;
            return;
        }
        st.level = *level;
    }
}

// BASEWAIT, SLEEP and PORTNO need word 1; this says what is wrong with it,
// or gives its value.
void typeArgument(Statement &st)
{
    if (!hasArgument(st))
        return;
    if (st.kind == Statement::Kind::PortNo) {
        if (const std::optional<qint32> port = parseWholeNumber(*st.argument))
            st.port = *port;
        else
            st.problem = Statement::Problem::NotAPortNumber;
        return;
    }
    if (const std::optional<float> seconds = parseSeconds(*st.argument))
        st.seconds = *seconds;
    else
        st.problem = Statement::Problem::NotSeconds;
}

} // namespace

QStringList splitWords(const QString &line)
{
    return line.split(u' ');
}

QString upperCaseKeyword(const QString &word)
{
    QString upper = word;
    for (QChar &c : upper) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
    }
    return upper;
}

Statement parseStatement(const QString &line)
{
    const QStringList words = splitWords(line);
    Statement st;
    st.keyword = upperCaseKeyword(words.value(0));
    if (words.size() > 1)
        st.argument = words[1];
    for (const Control &c : kControls) {
        if (st.keyword == QLatin1String(c.keyword)) {
            st.kind = c.kind;
            break;
        }
    }
    switch (st.kind) {
    case Statement::Kind::BaseWait:
    case Statement::Kind::Sleep:
    case Statement::Kind::PortNo:
        typeArgument(st);
        break;
    case Statement::Kind::String:
        st.text = st.argument.value_or(QString());
        break;
    case Statement::Kind::Screen:
    case Statement::Kind::WaitImage:
    case Statement::Kind::WaitGone:
    case Statement::Kind::Snapshot:
    case Statement::Kind::WaitText:
    case Statement::Kind::ReadText:
        typeScreenArguments(st, words);
        break;
    case Statement::Kind::OnFail:
        typeRecovery(st, words);
        break;
    case Statement::Kind::Display:
        if (hasArgument(st)) {
            st.text = words.mid(1).join(u' ');
            if (const std::optional<DisplayArea> area = DisplayArea::parse(st.text, &st.displayProblem))
                st.display = *area;
            else
                st.problem = Statement::Problem::NotADisplay;
        }
        break;
    case Statement::Kind::None:
        if (const std::optional<KeyPacket> packet = KeyTable::find(st.keyword)) {
            st.kind = Statement::Kind::Key;
            st.packet = *packet;
        }
        break;
    default:
        break;
    }
    return st;
}

std::optional<double> parseLevel(const QString &text)
{
    const std::optional<float> value = parseSeconds(text);
    if (!value || *value < 0 || *value > 1)
        return std::nullopt;
    return *value;
}

QStringList controlKeywords()
{
    QStringList list;
    for (const Control &c : kControls)
        list.append(QString::fromLatin1(c.keyword));
    return list;
}

std::optional<QRect> parseRegion(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        const QString &part = parts.at(i);
        // Plain digits only: no sign, no spaces.
        if (part.isEmpty() || !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return std::nullopt;
        bool ok = false;
        values[i] = part.toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

QString regionText(const QRect &region)
{
    return QStringLiteral("%1,%2,%3,%4").arg(region.x()).arg(region.y()).arg(region.width()).arg(region.height());
}
