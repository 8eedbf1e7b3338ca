#include "console/console.h"

#include "macro/characters.h"
#include "platform/terminal.h"

#include <QList>
#include <cerrno>
#include <cstdio>

namespace {

// Whether standard output or standard error has lost its reader (`| head`):
// nothing more is written there, so that it raises no more SIGPIPE.
bool outGone = false;
bool errGone = false;

void write(std::FILE *stream, const QString &text)
{
    bool &gone = stream == stdout ? outGone : errGone;
    if (gone)
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
    if (std::ferror(stream)) {
        gone = errno == EPIPE;
        std::clearerr(stream);
    }
}

// `text` with its line ends kept and every other control character shown:
// messages quote file names, macro lines and address lines.
QString visibleLines(const QString &text)
{
    QStringList lines = text.split(u'\n');
    for (QString &line : lines)
        line = visibleText(line);
    return lines.join(u'\n');
}

bool isWide(char32_t c)
{
    if (c >= 0xFF61 && c <= 0xFF9F) // half-width katakana
        return false;
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFE6) ||
           c >= 0x20000;
}

} // namespace

namespace Console {

void out(const QString &line)
{
    write(stdout, visibleLines(line) + u'\n');
}

void err(const QString &line)
{
    write(stderr, visibleLines(line) + u'\n');
}

void report(const QString &command, const QString &message)
{
    const QString name = command.isEmpty() ? QStringLiteral("quillonemu-cli") : QStringLiteral("quillonemu-cli ") + command;
    err(name + QStringLiteral(": ") + message);
}

void writeOut(const QString &text)
{
    write(stdout, text);
}

bool stdoutIsTerminal()
{
    return Terminal::standardOutputIsTerminal();
}

int terminalColumns()
{
    return Terminal::standardOutputColumns();
}

QString fitWidthFromEnd(const QString &text, int columns)
{
    int width = 0;
    qsizetype from = text.size();
    while (from > 0) {
        // A surrogate pair is one character.
        qsizetype start = from - 1;
        if (text[start].isLowSurrogate() && start > 0 && text[start - 1].isHighSurrogate())
            --start;
        const char32_t c = QStringView(text).sliced(start, from - start).toUcs4().value(0);
        const int w = isWide(c) ? 2 : 1;
        if (width + w > columns)
            break;
        width += w;
        from = start;
    }
    return text.sliced(from);
}

int widthOf(const QString &text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += isWide(c) ? 2 : 1;
    return width;
}

QString fitWidth(const QString &text, int columns)
{
    QString fitted;
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const int w = isWide(c) ? 2 : 1;
        if (width + w > columns)
            break;
        width += w;
        fitted += QString::fromUcs4(&c, 1);
    }
    return fitted;
}

} // namespace Console
