#pragma once

#include "link/packetdecoder.h"

#include <QString>
#include <QStringList>

// How the virtual handset reports what it sees: one line of Japanese text
// per event, or one JSON object per event (--json). Times are milliseconds
// since the epoch.
class HandsetOutput {
public:
    explicit HandsetOutput(bool json) : json_(json) {}

    // The handset listens on `device`; `link` is the symbolic link to it, if
    // any; `pseudoTerminal` tells a made terminal from a real port.
    QString ready(const QString &device, const QString &link, bool pseudoTerminal) const;
    // A packet or other bytes, arrived at `arrivalMs`, across the line by
    // `lineDoneMs`.
    QString event(const DecoderEvent &event, double arrivalMs, double lineDoneMs) const;
    // The byte at stream position `offset` arrived with a parity error.
    QString parityError(qint64 offset, quint8 byte, double arrivalMs) const;
    // The sender set the line otherwise than it should.
    QString lineSettings(const QString &device, const QStringList &differences) const;
    // Bytes came, but never while the sender had the line set: its settings
    // could not be seen.
    QString lineSettingsUnseen(const QString &device) const;

    // What a decoded packet means, in words: "キー UP", "文字 Ａ（A）", ...
    static QString meaning(const DecoderEvent &event);

private:
    bool json_;
};
