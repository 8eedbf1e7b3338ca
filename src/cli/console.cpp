#include "cli/console.h"

#include "platform/terminal.h"

#include <QList>
#include <cstdio>

namespace {

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
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
    write(stdout, line + u'\n');
}

void err(const QString &line)
{
    write(stderr, line + u'\n');
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
