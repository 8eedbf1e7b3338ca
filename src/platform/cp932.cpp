#include "platform/cp932.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <string>
#include <iconv.h>
#endif

#ifndef Q_OS_WIN
namespace {

// One conversion descriptor per direction and thread, opened on first use.
class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (valid())
            iconv_close(cd_);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; returns false at an invalid or incomplete
    // sequence, leaving `in` at it.
    bool convert(const char *&in, size_t &inLeft, char *&out, size_t &outLeft)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char *src = const_cast<char *>(in);
        const size_t rc = iconv(cd_, &src, &inLeft, &out, &outLeft);
        in = src;
        return rc != static_cast<size_t>(-1);
    }

private:
    iconv_t cd_;
};

Iconv &decoder()
{
    thread_local Iconv cd("UTF-16LE", "CP932");
    return cd;
}

Iconv &encoder()
{
    thread_local Iconv cd("CP932", "UTF-16LE");
    return cd;
}

} // namespace

QString decodeCp932(QByteArrayView bytes)
{
    QString result;
    Iconv &cd = decoder();
    if (!cd.valid() || bytes.isEmpty())
        return result;
    // Every byte gives at most one UTF-16 unit.
    std::u16string buffer(static_cast<size_t>(bytes.size()), u'\0');
    const char *in = bytes.data();
    size_t inLeft = static_cast<size_t>(bytes.size());
    char *outStart = reinterpret_cast<char *>(buffer.data());
    char *out = outStart;
    size_t outLeft = buffer.size() * sizeof(char16_t);
    while (inLeft > 0) {
        if (cd.convert(in, inLeft, out, outLeft))
            break;
        // An invalid or truncated sequence: one replacement for its first
        // byte, then go on with the next byte.
        const char16_t replacement = u'\uFFFD';
        std::memcpy(out, &replacement, sizeof replacement);
        out += sizeof replacement;
        outLeft -= sizeof replacement;
        ++in;
        --inLeft;
    }
    const auto units = static_cast<qsizetype>((out - outStart) / 2);
    return QString(reinterpret_cast<const QChar *>(buffer.data()), units);
}

std::optional<quint16> cp932Code(QChar ch)
{
    if (ch.isSurrogate())
        return std::nullopt;
    Iconv &cd = encoder();
    if (!cd.valid())
        return std::nullopt;
    const char16_t unit = ch.unicode();
    const char *in = reinterpret_cast<const char *>(&unit);
    size_t inLeft = sizeof unit;
    unsigned char bytes[4] = {};
    char *out = reinterpret_cast<char *>(bytes);
    size_t outLeft = sizeof bytes;
    if (!cd.convert(in, inLeft, out, outLeft))
        return std::nullopt;
    const size_t written = sizeof bytes - outLeft;
    if (written == 1)
        return bytes[0];
    if (written == 2)
        return static_cast<quint16>(bytes[0] << 8 | bytes[1]);
    return std::nullopt;
}

#else // Q_OS_WIN

QString decodeCp932(QByteArrayView bytes)
{
    QString result;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const bool doubleByte = IsDBCSLeadByteEx(932, lead) && i + 1 < bytes.size();
        const int length = doubleByte ? 2 : 1;
        wchar_t wide[2] = {};
        const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data() + i, length, wide, 2);
        if (n == 1) {
            result.append(QChar(static_cast<char16_t>(wide[0])));
            i += length;
        } else {
            result.append(QChar(u'\uFFFD'));
            ++i;
        }
    }
    return result;
}

std::optional<quint16> cp932Code(QChar ch)
{
    if (ch.isSurrogate())
        return std::nullopt;
    const wchar_t wide = static_cast<wchar_t>(ch.unicode());
    char bytes[4] = {};
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr, &usedDefault);
    if (usedDefault || n < 1 || n > 2)
        return std::nullopt;
    if (n == 1)
        return static_cast<unsigned char>(bytes[0]);
    return static_cast<quint16>(static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]));
}

#endif

QByteArray encodeCp932(QStringView text)
{
    QByteArray bytes;
    for (const QChar ch : text) {
        const std::optional<quint16> code = cp932Code(ch);
        if (!code)
            continue;
        if (*code > 0xFF)
            bytes.append(static_cast<char>(*code >> 8));
        bytes.append(static_cast<char>(*code & 0xFF));
    }
    return bytes;
}
