#pragma once

#include <QByteArray>
#include <QList>

// Undoes the marks a serial port set to PARMRK (and not ISTRIP) puts into
// what it reads: FF FF stands for a data byte FF, FF 00 X for a byte X that
// arrived with a parity or framing error. A mark may be split between reads.
class ParityMarks {
public:
    struct Bytes {
        QByteArray data;
        // Positions in `data` of the bytes that arrived with an error.
        QList<qsizetype> errors;
    };

    Bytes feed(QByteArrayView marked);

private:
    QByteArray held_; // the start of a mark cut off by the end of a read
};
