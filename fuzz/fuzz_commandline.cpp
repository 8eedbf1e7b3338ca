// The command line's text to its switches.

#include "app/commandline.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString trimmed = trimSpaces(text);
    FUZZ_CHECK(!trimmed.startsWith(u' ') && !trimmed.endsWith(u' '));
    FUZZ_CHECK(text.contains(trimmed));
    for (const CommandLineSwitch &s : parseCommandLineSwitches(trimmed)) {
        FUZZ_CHECK(s.letter == u'M' || s.letter == u'A' || s.letter == u'P' || s.letter == u'S' || s.letter == u'R' ||
                   s.letter == u'F' || s.letter == u'H');
        FUZZ_CHECK(!s.value.contains(u'"'));
        FUZZ_CHECK(s.value.size() < trimmed.size());
    }
    return 0;
}
