// A whole macro file through the line reader and the statement parser, as a
// run reads it, and through the checker.

#include "fuzzcheck.h"
#include "macro/macrocheck.h"
#include "macro/statement.h"
#include "platform/cp932.h"
#include "platform/textlinereader.h"

#include <QFile>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace {

QString scratchPath()
{
    static const QString path = QStringLiteral("/dev/shm/quillonemu-fuzz-macro-%1.txt").arg(::getpid());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    {
        QFile file(scratchPath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
    }
    TextLineReader reader;
    FUZZ_CHECK(reader.open(scratchPath()));
    qsizetype lineBytes = 0;
    qint64 lines = 0;
    while (const std::optional<QByteArray> raw = reader.readRawLine()) {
        FUZZ_CHECK(!raw->contains('\r') && !raw->contains('\n'));
        lineBytes += raw->size();
        ++lines;
        parseStatement(decodeCp932(*raw));
    }
    FUZZ_CHECK(!reader.failed());
    FUZZ_CHECK(reader.linesRead() == lines);
    // Every byte is either in a line or a line end; every line end ends a
    // line, and only the last line may lack one.
    FUZZ_CHECK(lineBytes + bytes.count('\r') + bytes.count('\n') == bytes.size());
    const qsizetype ends = bytes.count('\r') + bytes.count('\n') - bytes.count("\r\n");
    FUZZ_CHECK(lines == ends || lines == ends + 1);

    const MacroCheck check = checkMacro(scratchPath(), QString());
    FUZZ_CHECK(check.pass.has_value());
    for (const MacroDiagnostic &d : check.diagnostics) {
        FUZZ_CHECK(d.line >= 0 && d.line <= lines);
        FUZZ_CHECK(!d.message.isEmpty() && !d.message.contains(u'\n'));
    }
    FUZZ_CHECK(check.pass->packets >= 0 && check.pass->statements <= lines);
    // The whole job's estimate is a length of time, whatever the file.
    if (check.job) {
        FUZZ_CHECK(std::isfinite(check.job->seconds) && check.job->seconds >= 0);
        FUZZ_CHECK(check.job->waitSeconds >= 0 && check.job->wireSeconds >= 0);
    }
    return 0;
}
