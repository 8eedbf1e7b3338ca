#include "macro/filelines.h"

#include "platform/textlinereader.h"

#include <limits>

FileLines readFileLines(const QString &path)
{
    FileLines file;
    TextLineReader reader;
    if (!reader.open(path)) {
        file.failed = true;
        file.reason = reader.errorString();
        return file;
    }
    file.opened = true;
    while (const std::optional<QString> line = reader.readLine())
        file.lines.append(*line);
    if (reader.failed()) {
        file.failed = true;
        file.reason = reader.errorString();
    }
    return file;
}

std::optional<qint64> countFileLines(const QString &path)
{
    TextLineReader reader;
    if (!reader.open(path))
        return std::nullopt;
    const qint64 lines = reader.skipLines(std::numeric_limits<qint64>::max());
    if (reader.failed())
        return std::nullopt;
    return lines;
}
