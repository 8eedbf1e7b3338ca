#include "link/chartable.h"

#include <QHash>

namespace {

struct Sign {
    char16_t character;
    quint16 code;
};

constexpr Sign kSigns[] = {
    {u',', 0x8143},  {u'.', 0x8144},  {u'\uFF65', 0x8145}, {u':', 0x8146},  {u';', 0x8147},  {u'?', 0x8148},
    {u'!', 0x8149},  {u'^', 0x814F},  {u'_', 0x8151},      {u'/', 0x815E},  {u'|', 0x8162},  {u'"', 0x8168},
    {u'(', 0x8169},  {u')', 0x816A},  {u'+', 0x817B},      {u'-', 0x817C},  {u'=', 0x8181},  {u'\\', 0x818F},
    {u'$', 0x8190},  {u'%', 0x8193},  {u'#', 0x8194},      {u'&', 0x8195},  {u'*', 0x8196},  {u'@', 0x8197},
};

struct Table {
    QList<QChar> order;
    QHash<QChar, quint16> codes;

    void add(QChar c, quint16 code)
    {
        order.append(c);
        codes.insert(c, code);
    }
};

const Table &table()
{
    static const Table t = [] {
        Table built;
        for (int i = 0; i < 10; ++i)
            built.add(QChar(u'0' + i), static_cast<quint16>(0x824F + i));
        for (int i = 0; i < 26; ++i)
            built.add(QChar(u'A' + i), static_cast<quint16>(0x8260 + i));
        for (int i = 0; i < 26; ++i)
            built.add(QChar(u'a' + i), static_cast<quint16>(0x8281 + i));
        for (const Sign &s : kSigns)
            built.add(QChar(s.character), s.code);
        return built;
    }();
    return t;
}

} // namespace

std::optional<quint16> CharacterTable::find(const QString &ch)
{
    if (ch.size() != 1)
        return std::nullopt;
    const auto it = table().codes.constFind(ch[0]);
    if (it == table().codes.cend())
        return std::nullopt;
    return *it;
}

QStringList CharacterTable::characters()
{
    QStringList list;
    for (QChar c : table().order)
        list.append(QString(c));
    return list;
}
