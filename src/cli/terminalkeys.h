#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

// A key as a terminal in raw mode reports it.
struct TerminalKey {
    enum class Kind {
        Text, // a character typed (text holds it)
        Up,
        Down,
        Left,
        Right,
        Home,
        End,
        PageUp,
        PageDown,
        Insert,
        Delete,
        Enter,
        Backspace,
        Tab,
        Escape,
        Function,   // F1 to F12 (number)
        EndOfInput, // Ctrl-D
        Interrupt,  // Ctrl-C
        Unknown,    // any other control key or escape sequence
    };

    Kind kind = Kind::Unknown;
    QString text;
    int number = 0;

    bool operator==(const TerminalKey &other) const = default;
};

// Decodes the bytes a terminal sent for the keys pressed: UTF-8 characters,
// control keys, and the escape sequences of the common terminals (xterm and
// its kin, the Linux console, rxvt) with or without modifiers. Returns the
// keys of the complete sequences at the start of `bytes` and sets `*used` to
// the bytes they took. A sequence cut short at the end is left for the next
// call, unless `complete` says that no more bytes follow it (the terminal
// has been quiet): then a lone ESC is the Escape key. A UTF-8 character cut
// short is always left for the next call, quiet or not. However the bytes
// are split into calls, the same keys come out.
QList<TerminalKey> decodeTerminalKeys(QByteArrayView bytes, bool complete, qsizetype *used);
