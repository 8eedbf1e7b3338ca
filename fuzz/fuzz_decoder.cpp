// The handset's decoder on arbitrary byte streams: every byte is accounted for
// exactly once, in order, and the chunking does not change what it finds.

#include "fuzzcheck.h"
#include "link/packetdecoder.h"

#include <cstddef>
#include <cstdint>

namespace {

QList<DecoderEvent> decodeInChunks(QByteArrayView bytes, qsizetype chunk)
{
    PacketDecoder decoder;
    QList<DecoderEvent> events;
    for (qsizetype i = 0; i < bytes.size(); i += chunk)
        events += decoder.feed(bytes.sliced(i, std::min(chunk, bytes.size() - i)));
    events += decoder.finish();
    FUZZ_CHECK(decoder.pendingBytes() == 0);
    return events;
}

bool sameEvents(const QList<DecoderEvent> &a, const QList<DecoderEvent> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].type != b[i].type || a[i].offset != b[i].offset || a[i].bytes != b[i].bytes)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the chunk size; the rest is the stream.
    const qsizetype chunk = data[0] % 13 + 1;
    const QByteArrayView stream(data + 1, static_cast<qsizetype>(size - 1));

    const QList<DecoderEvent> whole = decodeInChunks(stream, stream.size() + 1);
    qint64 next = 0;
    for (const DecoderEvent &e : whole) {
        FUZZ_CHECK(e.offset == next);
        FUZZ_CHECK(!e.bytes.isEmpty());
        FUZZ_CHECK(e.offset + e.bytes.size() <= stream.size() && stream.sliced(e.offset, e.bytes.size()) == e.bytes);
        if (e.type == DecoderEvent::Type::Packet) {
            FUZZ_CHECK(e.bytes.size() == 10);
            FUZZ_CHECK(e.bytes.startsWith("\xC4\x01\x02"));
        }
        next += e.bytes.size();
    }
    FUZZ_CHECK(next == stream.size());
    FUZZ_CHECK(sameEvents(whole, decodeInChunks(stream, chunk)));
    return 0;
}
