#pragma once

#include "link/keypacket.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// What one ten-byte frame means to the handset.
struct DecodedPacket {
    enum class Problem {
        None,
        BadTrailer,      // bytes 8 and 9 are not 00 00
        UnknownKind,     // byte 3 is not 1, 2 or 3
        DigitTooLarge,   // a character code digit above 15
        NotDoubleByte,   // a character code below 0x100
        NoCharacter,     // a code that code page 932 decodes to nothing
        UnknownKey,      // a key packet that no key of the table sends
    };

    KeyPacket packet;
    Problem problem = Problem::None;
    // The key the packet presses (KeyTable::nameOf): key packets, and the
    // character packets of the keys 0-9, # and *.
    QString keyName;
    // Kinds 1 and 2: the code page 932 code the four payload digits carry.
    std::optional<quint16> code;
    // Kinds 1 and 2: the character the code decodes to.
    QString character;
    // Kind 1: the single-byte character of the character table that sends
    // this code; empty when the table has none.
    QString tableCharacter;

    bool isValid() const { return problem == Problem::None; }
    // A short fixed name of the problem ("bad-trailer", ...); empty when valid.
    QString problemId() const;
    // Why the packet is malformed, in Japanese; empty when valid.
    QString problemText() const;
};

// Reads the meaning of one frame that starts with C4 01 02.
DecodedPacket decodePacket(const KeyPacket &packet);

// One thing found in the byte stream.
struct DecoderEvent {
    enum class Type {
        Packet,    // ten bytes from a frame start; `packet` says what they mean
        Unframed,  // bytes outside any frame
        Truncated, // a frame start followed by too few bytes
    };

    Type type = Type::Packet;
    // Position of the first byte in the whole stream, counted from 0.
    qint64 offset = 0;
    QByteArray bytes;
    DecodedPacket packet; // Type::Packet only
};

// Splits a byte stream into key packets. Pure: no I/O, no clock. Bytes may
// be fed in chunks of any size and give the same events in stream order: a
// packet as soon as its tenth byte is in, a run of bytes outside frames once
// the next frame starts (or at finish()).
//
// A frame starts at C4 01 02 and is ten bytes long. Bytes before a frame
// start are reported as unframed. A frame that is no valid packet but holds a
// C4 byte after its start is taken as a packet cut short by the next one:
// the bytes before that C4 are reported as truncated and decoding goes on
// from the C4. (A valid packet never holds a C4 after its start.)
class PacketDecoder {
public:
    QList<DecoderEvent> feed(QByteArrayView bytes);

    // The stream ended, or stayed silent for too long: reports the bytes
    // held back (bytes outside frames, a frame start without all of its
    // bytes) and starts afresh.
    QList<DecoderEvent> finish();

    // Bytes held back waiting for more.
    qsizetype pendingBytes() const { return buffer_.size(); }

private:
    // Moves the first `length` bytes of the buffer into an event.
    void take(QList<DecoderEvent> &events, DecoderEvent::Type type, qsizetype length);

    QByteArray buffer_;
    qint64 offset_ = 0; // stream position of buffer_[0]
};
