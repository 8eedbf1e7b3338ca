// A screen source as the user writes it (--screen, /S, SCREEN) to its kind,
// and as it is shown.

#include "fuzzcheck.h"
#include "screen/sourceaddress.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const SourceAddress address = parseSourceAddress(text);
    FUZZ_CHECK(address.text == text);
    // Every source that is not taken says why, and only those.
    FUZZ_CHECK(address.isValid() == address.problem.isEmpty());
    if (!address.isValid())
        FUZZ_CHECK(address.problem.contains(text) || text.trimmed().isEmpty());
    if (address.kind == SourceAddress::Kind::Camera) {
        FUZZ_CHECK(address.cameraNumber >= 0 && address.cameraNumber <= 999);
        FUZZ_CHECK(address.cameraNumber == 0 || address.cameraName.isEmpty());
        FUZZ_CHECK(text.startsWith(QLatin1String("camera"), Qt::CaseInsensitive));
    } else {
        FUZZ_CHECK(address.cameraNumber == 0 && address.cameraName.isEmpty());
    }
    if (address.kind == SourceAddress::Kind::Stream)
        FUZZ_CHECK(text.contains(QLatin1String("://")));
    // As shown: a password, when there is one, only as ***, and shown once
    // is shown for good.
    const QString shown = shownSource(text);
    FUZZ_CHECK(shown == text || shown.contains(QLatin1String(":***@")));
    FUZZ_CHECK(shownSource(shown) == shown);
    return 0;
}
