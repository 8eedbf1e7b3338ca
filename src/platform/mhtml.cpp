#include "platform/mhtml.h"

#include <QUrl>
#include <algorithm>

namespace {

// The header lines of one message or part, unfolded; names in lower case.
struct Headers {
    QList<std::pair<QByteArray, QByteArray>> fields;

    QByteArray value(const QByteArray &name) const
    {
        for (const auto &[fieldName, fieldValue] : fields) {
            if (fieldName == name)
                return fieldValue;
        }
        return {};
    }
};

// Splits `entity` at its first empty line into headers and body.
std::pair<Headers, QByteArray> splitEntity(const QByteArray &entity)
{
    qsizetype end = entity.startsWith('\n') ? 0 : entity.indexOf("\n\n");
    const QByteArray head = entity.left(end < 0 ? entity.size() : end);
    const QByteArray body = end < 0 ? QByteArray() : entity.mid(end + (end == 0 ? 1 : 2));

    Headers headers;
    for (const QByteArray &line : head.split('\n')) {
        if ((line.startsWith(' ') || line.startsWith('\t')) && !headers.fields.isEmpty()) {
            headers.fields.last().second += ' ' + line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            headers.fields.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    return {headers, body};
}

// "multipart/related; type=..." -> "multipart/related".
QByteArray mediaType(const QByteArray &contentType)
{
    const qsizetype semicolon = contentType.indexOf(';');
    return contentType.left(semicolon < 0 ? contentType.size() : semicolon).trimmed().toLower();
}

// A parameter of a Content-Type value, quoted or not.
QByteArray parameter(const QByteArray &contentType, const QByteArray &name)
{
    for (const QByteArray &item : contentType.split(';')) {
        const qsizetype equals = item.indexOf('=');
        if (equals < 0 || item.left(equals).trimmed().toLower() != name)
            continue;
        QByteArray value = item.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '=') {
            out += c;
            continue;
        }
        // A soft line break: "=" at the end of a line (spaces before the line end allowed).
        qsizetype j = i + 1;
        while (j < text.size() && (text[j] == ' ' || text[j] == '\t'))
            ++j;
        if (j == text.size() || text[j] == '\n') {
            i = j;
            continue;
        }
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            out += c; // not an escape: kept as it stands
            continue;
        }
        out += char(high * 16 + low);
        i += 2;
    }
    return out;
}

QByteArray decodeBody(const Headers &headers, const QByteArray &body)
{
    const QByteArray encoding = headers.value("content-transfer-encoding").toLower();
    if (encoding == "base64")
        return QByteArray::fromBase64(body);
    if (encoding == "quoted-printable")
        return decodeQuotedPrintable(body);
    return body;
}

// The name a part is written under: the last segment of its location, when
// that is a plain file name.
QString fileNameOf(const Headers &headers, qsizetype index)
{
    const QString location = QString::fromUtf8(headers.value("content-location"));
    QString name = QUrl(location).fileName();
    if (name.isEmpty())
        name = location.section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
        return QStringLiteral("part%1").arg(index + 1);
    return name;
}

MhtmlPart makePart(const Headers &headers, const QByteArray &body, qsizetype index)
{
    return {fileNameOf(headers, index), mediaType(headers.value("content-type")), decodeBody(headers, body)};
}

} // namespace

std::optional<QList<MhtmlPart>> readMhtml(QByteArray data, QString *error)
{
    data.replace("\r\n", "\n");
    const auto [headers, body] = splitEntity(data);
    const QByteArray type = mediaType(headers.value("content-type"));
    QList<MhtmlPart> parts;
    if (type == "text/html") {
        parts.append(makePart(headers, body, 0));
        return parts;
    }
    const QByteArray boundary = parameter(headers.value("content-type"), "boundary");
    if (!type.startsWith("multipart/") || boundary.isEmpty()) {
        *error = QStringLiteral("MHTML 形式ではありません");
        return std::nullopt;
    }

    // The parts lie between lines "--boundary"; "--boundary--" ends them. The
    // line end before a boundary line belongs to the boundary.
    const QByteArray delimiter = "\n--" + boundary;
    QByteArray rest = "\n" + body;
    qsizetype at = rest.indexOf(delimiter);
    while (at >= 0) {
        qsizetype start = at + delimiter.size();
        if (rest.mid(start, 2) == "--")
            break;
        start = rest.indexOf('\n', start);
        if (start < 0)
            break;
        const qsizetype next = rest.indexOf(delimiter, start);
        const QByteArray entity = rest.mid(start + 1, (next < 0 ? rest.size() : next) - start - 1);
        const auto [partHeaders, partBody] = splitEntity(entity);
        parts.append(makePart(partHeaders, partBody, parts.size()));
        at = next;
    }

    const bool hasPage = std::any_of(parts.cbegin(), parts.cend(),
                                     [](const MhtmlPart &part) { return part.contentType == "text/html"; });
    if (!hasPage) {
        *error = QStringLiteral("ページ（text/html）がありません");
        return std::nullopt;
    }
    return parts;
}
