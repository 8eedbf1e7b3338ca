#pragma once

#include <QByteArray>
#include <QString>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal standing in for a handset's serial line: the program under
// test opens the slave side through a port number, the test reads the master.
// Or, made Cooked, for the user's terminal: the program reads and writes the
// slave side as its standard input and output, the test types into the
// master and reads the screen from it.
class PseudoTerminal {
public:
    enum class Mode {
        Raw,    // bytes pass exactly as written
        Cooked, // as a terminal starts: line editing, echo, signal keys
    };

    explicit PseudoTerminal(Mode mode = Mode::Raw);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return master_ >= 0; }
    // The handset's side, for a reader of its own (see LineSpeedReader).
    int masterFd() const { return master_; }
    QString slavePath() const { return slavePath_; }

    // Points port number `port` at this terminal (QUILLONEMU_COM<port>).
    void bindPort(int port) const { qputenv("QUILLONEMU_COM" + QByteArray::number(port), slavePath_.toLocal8Bit()); }

    // Reads until `count` bytes arrived or `timeoutMs` passed, letting the
    // event loop run meanwhile so queued writes can proceed.
    QByteArray read(qsizetype count, int timeoutMs = 5000);
    // What has arrived by now, without waiting.
    QByteArray readReady();
    // read() without touching the event loop, for a thread of its own.
    QByteArray readBlocking(qsizetype count, int timeoutMs) const;
    // Everything that arrives within `quietMs` of silence.
    QByteArray readAvailable(int quietMs = 100);

    // The line settings as the slave side has them now.
    termios settings() const
    {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

    // Writes to the master: keys typed at a terminal.
    bool write(QByteArrayView bytes) const
    {
        return master_ >= 0 && ::write(master_, bytes.data(), static_cast<size_t>(bytes.size())) == bytes.size();
    }

    // Closes the master: to the sender the device vanishes.
    void closeMaster();

    // Writes single bytes to the line from the sender's side until it takes
    // no more, as a sender before this one that nobody read would have left
    // it; returns how many it took. What the program under test writes
    // afterwards waits in the program.
    qsizetype fillUp();

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};
