// An MJPEG stream's parts split from arbitrary bytes: the same parts however
// the bytes come (all at once or in pieces), none longer than a picture can
// be, and no more kept than one part needs.

#include "fuzzcheck.h"
#include "screen/mjpegparts.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Split {
    QList<QByteArray> pictures;
    int malformed = 0;
};

Split splitInChunks(QByteArrayView bytes, qsizetype chunk)
{
    MjpegPartSplitter splitter("frame");
    Split split;
    for (qsizetype i = 0; i < bytes.size(); i += chunk) {
        splitter.feed(bytes.sliced(i, std::min(chunk, bytes.size() - i)).toByteArray());
        for (;;) {
            QByteArray picture;
            const MjpegPartSplitter::Result result = splitter.take(&picture);
            if (result == MjpegPartSplitter::Result::NeedMore)
                break;
            if (result == MjpegPartSplitter::Result::Picture) {
                FUZZ_CHECK(picture.size() <= kLongestStreamPart);
                split.pictures.append(picture);
            } else {
                ++split.malformed;
            }
        }
        FUZZ_CHECK(splitter.buffered() <= i + chunk);
    }
    return split;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the pieces' size.
    const qsizetype chunk = 1 + data[0] % 64;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size) - 1);
    const Split whole = splitInChunks(bytes, std::max<qsizetype>(1, bytes.size()));
    const Split pieces = splitInChunks(bytes, chunk);
    FUZZ_CHECK(whole.pictures == pieces.pictures);
    FUZZ_CHECK(whole.malformed == pieces.malformed);
    return 0;
}
