// The terminal keypad's key decoding on arbitrary bytes: everything is used
// once the terminal is quiet but a UTF-8 character cut short at the very end
// (it waits for its bytes, however long they take), every key is well
// formed, and however the bytes arrive in pieces, the same keys come out.

#include "cli/terminalkeys.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

namespace {

// The keys of `bytes` read `chunk` bytes at a time, what is left over kept
// for the next read, then the terminal quiet.
QList<TerminalKey> decodeInChunks(QByteArrayView bytes, qsizetype chunk)
{
    QByteArray pending;
    QList<TerminalKey> keys;
    qsizetype used = 0;
    for (qsizetype i = 0; i < bytes.size(); i += chunk) {
        pending += bytes.sliced(i, std::min(chunk, bytes.size() - i));
        keys += decodeTerminalKeys(pending, false, &used);
        FUZZ_CHECK(used >= 0 && used <= pending.size());
        pending.remove(0, used);
    }
    keys += decodeTerminalKeys(pending, true, &used);
    FUZZ_CHECK(used >= 0 && pending.size() - used <= 3);
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the size of the pieces; the rest is typed.
    const qsizetype chunk = data[0] % 7 + 1;
    const QByteArrayView typed(data + 1, static_cast<qsizetype>(size - 1));

    qsizetype used = -1;
    const QList<TerminalKey> whole = decodeTerminalKeys(typed, true, &used);
    // What is left is the start of one UTF-8 character: a lead byte and
    // fewer continuation bytes than it needs.
    FUZZ_CHECK(used >= 0 && typed.size() - used <= 3);
    if (used < typed.size())
        FUZZ_CHECK(static_cast<std::uint8_t>(typed[used]) >= 0xC2);
    FUZZ_CHECK(whole.size() <= typed.size());
    for (const TerminalKey &key : whole) {
        FUZZ_CHECK((key.kind == TerminalKey::Kind::Text) == !key.text.isEmpty());
        FUZZ_CHECK(key.text.size() <= 2);
        FUZZ_CHECK((key.kind == TerminalKey::Kind::Function) == (key.number >= 1 && key.number <= 12));
    }
    FUZZ_CHECK(decodeInChunks(typed, chunk) == whole);
    return 0;
}
