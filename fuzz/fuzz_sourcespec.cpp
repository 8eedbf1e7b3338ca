// A screen source as the user writes it (--screen, /S, SCREEN) to its kind.

#include "fuzzcheck.h"
#include "screen/sourcespec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const SourceSpec spec = parseSourceSpec(text);
    FUZZ_CHECK(spec.text == text);
    // Every source that is not taken says why, and only those.
    FUZZ_CHECK(spec.isValid() == spec.problem.isEmpty());
    if (!spec.isValid())
        FUZZ_CHECK(spec.problem.contains(text) || text.trimmed().isEmpty());
    if (spec.kind == SourceSpec::Kind::Camera) {
        FUZZ_CHECK(spec.cameraNumber >= 0 && spec.cameraNumber <= 999);
        FUZZ_CHECK(spec.cameraNumber == 0 || spec.cameraName.isEmpty());
        FUZZ_CHECK(text.startsWith(QLatin1String("camera"), Qt::CaseInsensitive));
    } else {
        FUZZ_CHECK(spec.cameraNumber == 0 && spec.cameraName.isEmpty());
    }
    if (spec.kind == SourceSpec::Kind::Stream)
        FUZZ_CHECK(text.contains(QLatin1String("://")));
    return 0;
}
