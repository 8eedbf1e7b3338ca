// A text, as UTF-16 units, to the packets that type it: at most one packet per
// unit, each a well-formed character or double-byte packet.

#include "fuzzcheck.h"
#include "link/packetdecoder.h"
#include "link/textsender.h"

#include <cstddef>
#include <cstdint>

namespace {

void checkPackets(const QList<KeyPacket> &packets, qsizetype units, bool doubleByteAllowed)
{
    FUZZ_CHECK(packets.size() <= units);
    for (const KeyPacket &p : packets) {
        FUZZ_CHECK(p.kind() == KeyPacket::Character || (doubleByteAllowed && p.kind() == KeyPacket::DoubleByte));
        const DecodedPacket decoded = decodePacket(p);
        FUZZ_CHECK(decoded.isValid());
        if (p.kind() == KeyPacket::Character)
            FUZZ_CHECK(!decoded.tableCharacter.isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text(reinterpret_cast<const QChar *>(data), static_cast<qsizetype>(size / 2));
    checkPackets(TextSender::packetsForString(text), text.size(), true);
    checkPackets(TextSender::packetsForCharacters(text), text.size(), false);
    return 0;
}
