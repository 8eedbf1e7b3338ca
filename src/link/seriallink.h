#pragma once

#include "link/keypacket.h"
#include "platform/serialport.h"

#include <QObject>
#include <functional>

class Waiter;

// One window's serial link: its port and the three operations on it. Each
// sending window (the main window, the keypad) holds its own, and each takes
// the port number from its own source when it opens.
class SerialLink : public QObject {
    Q_OBJECT
public:
    // Gives the port number as text at the moment of each OpenPort().
    using PortSource = std::function<QString()>;

    // `clock` paces the line (see SerialPort::setClock); a run passes its
    // own, others leave it to the port.
    explicit SerialLink(PortSource portSource, Waiter *clock = nullptr, QObject *parent = nullptr);
    ~SerialLink() override;

    // Who in this program holds the port while this link has it open
    // (「キーボード」), and how the user frees it (「キーボードの「切断」で…」):
    // another link of the program that finds the device taken says so,
    // instead of blaming another program.
    void setHolder(const QString &holder, const QString &howToFree);

    // Opens the port on the number the source gives now, unless it is open
    // already (then nothing changes, whatever the source says). Returns
    // whether the port is open afterwards; on failure errorText() names the
    // port and the device.
    bool OpenPort();
    // Closes the port once every packet sent has left the line; nothing when
    // closed. False when the line did not drain in its time and packets had
    // to be dropped: errorText() names the port and how many.
    bool ClosePort();

    // Sends one packet in a single write, once the line has room for it
    // (see SerialPort). Each value must lie in 0 to 255: otherwise
    // std::overflow_error is thrown before anything is written, whether the
    // port is open or not. On a closed port the packet is dropped silently.
    void SendPacket(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9);
    void SendPacket(const KeyPacket &packet);

    bool isOpen() const { return port_.isOpen(); }
    QString errorText() const { return errorText_; }
    const SerialPort &port() const { return port_; }

Q_SIGNALS:
    // A write error, or the device vanished while open; the port is closed.
    void failed(const QString &message);
    // A packet was handed to the open port.
    void packetSent(const KeyPacket &packet);

private:
    PortSource portSource_;
    SerialPort port_;
    QString errorText_;
    QString holder_;
    QString howToFree_;
};
