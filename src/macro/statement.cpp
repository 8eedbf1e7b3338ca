#include "macro/statement.h"

#include "link/keytable.h"

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
};

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
            return st;
        }
    }
    if (const std::optional<KeyPacket> packet = KeyTable::find(st.keyword)) {
        st.kind = Statement::Kind::Key;
        st.packet = *packet;
    }
    return st;
}

QStringList controlKeywords()
{
    QStringList list;
    for (const Control &c : kControls)
        list.append(QString::fromLatin1(c.keyword));
    return list;
}
