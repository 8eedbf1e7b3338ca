#pragma once

#include <QByteArray>
#include <QString>

// The line settings a receiver can see on its line, whatever the system.
struct LineSettings {
    int baud = 0; // -1 when the speed is none of the usual ones
    int dataBits = 8;
    int stopBits = 1;
    bool hardwareFlow = false; // RTS/CTS
    bool softwareFlow = false; // XON/XOFF
    bool rawOutput = true;     // the sender's output is passed on unchanged

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// The receiving end of a line, as the virtual handset listens on it: either a
// pseudo-terminal it makes itself, whose other side a sender opens as its
// serial port, or a real serial port set to 600 baud, even parity, 8 data
// bits, 1 stop bit. POSIX only: elsewhere opening fails and says so.
class ReceivingLine {
public:
    ReceivingLine() = default;
    ~ReceivingLine();
    ReceivingLine(const ReceivingLine &) = delete;
    ReceivingLine &operator=(const ReceivingLine &) = delete;

    // Makes a pseudo-terminal; with a `linkPath`, that path becomes a
    // symbolic link to it (an old link there is replaced, any other file
    // is left alone and makes this fail). On failure errorText() says why.
    bool openPseudoTerminal(const QString &linkPath);
    // Opens the serial port at `path` for reading, with parity checked on
    // every byte. On failure errorText() says why.
    bool openDevice(const QString &path);
    // Closes the line and removes the link.
    void close();

    // Reads what is available now, at most `maxBytes`, without waiting.
    // `ended` is set when the line is gone (errorText() then says why).
    QByteArray readAvailable(bool *ended, qsizetype maxBytes = -1);
    // Waits up to `timeoutMs` for bytes to read; false when none came.
    bool waitForBytes(int timeoutMs) const;

    // The descriptor to watch for bytes.
    int fd() const { return fd_; }
    bool isPseudoTerminal() const { return slave_ >= 0; }
    // The device the sender opens (pseudo-terminal) or the port read.
    QString devicePath() const { return devicePath_; }
    QString linkPath() const { return linkPath_; }
    // A real port whose driver took even parity with error marks.
    bool checksParity() const { return checksParity_; }
    // The port marks bytes (see ParityMarks): parity errors, and every data
    // byte FF, even where the driver does no parity.
    bool marksBytes() const { return marksBytes_; }

    // The line settings now: on a pseudo-terminal, as the sender set them.
    LineSettings settings() const;
    // Whether the pseudo-terminal's settings differ from those it was made
    // with: a sender has set the line (and not yet closed its port, which
    // puts them back).
    bool senderHasSetTheLine() const;

    QString errorText() const { return error_; }

private:
    bool fail(const QString &message);

    int fd_ = -1;
    int slave_ = -1; // kept open so the line stays up between senders
    QString devicePath_;
    QString linkPath_;
    QByteArray initial_; // the terminal's settings when it was made
    bool checksParity_ = false;
    bool marksBytes_ = false;
    QString error_;
};
