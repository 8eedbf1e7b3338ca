#include "macro/filelines.h"

#include "platform/textlinereader.h"

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
