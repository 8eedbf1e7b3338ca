#include "link/seriallink.h"

#include "platform/portnumber.h"

#include <QFileInfo>
#include <QList>
#include <mutex>
#include <stdexcept>

namespace {

// Every link of the program, so that one that cannot open its device can
// tell whether another of them has it.
// Links live on several threads when a job runs on many handsets.
std::mutex &linksMutex()
{
    static std::mutex mutex;
    return mutex;
}

QList<const SerialLink *> &links()
{
    static QList<const SerialLink *> all;
    return all;
}

// The device a path names, links followed.
QString sameDevice(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

SerialLink::SerialLink(PortSource portSource, Waiter *clock, QObject *parent)
    : QObject(parent), portSource_(std::move(portSource))
{
    {
        const std::lock_guard lock(linksMutex());
        links().append(this);
    }
    port_.setClock(clock);
    connect(&port_, &SerialPort::failed, this, [this](const QString &message) {
        errorText_ = message;
        Q_EMIT failed(message);
    });
}

SerialLink::~SerialLink()
{
    const std::lock_guard lock(linksMutex());
    links().removeOne(this);
}

void SerialLink::setHolder(const QString &holder, const QString &howToFree)
{
    holder_ = holder;
    howToFree_ = howToFree;
}

bool SerialLink::OpenPort()
{
    if (port_.isOpen())
        return true;
    const bool opened = port_.open(portSource_());
    errorText_ = port_.errorText();
    if (!opened && !port_.devicePath().isEmpty()) {
        const QString device = sameDevice(port_.devicePath());
        const std::lock_guard lock(linksMutex());
        for (const SerialLink *other : links()) {
            if (other == this || !other->isOpen() || other->holder_.isEmpty() ||
                sameDevice(other->port_.devicePath()) != device)
                continue;
            errorText_ = QStringLiteral("%1 を開けません: このプログラムの%2が使用中です（%3）。")
                             .arg(portLabel(port_.portNumber(), port_.devicePath()), other->holder_, other->howToFree_);
            break;
        }
    }
    return opened;
}

bool SerialLink::ClosePort()
{
    const qint32 number = port_.portNumber();
    const QString device = port_.devicePath();
    const qint64 dropped = port_.close();
    if (dropped == 0)
        return true;
    if (dropped < 0) {
        errorText_ = port_.errorText();
        return false;
    }
    const qint64 packets = (dropped + KeyPacket::kSize - 1) / static_cast<qint64>(KeyPacket::kSize);
    errorText_ = QStringLiteral("%1 の回線が空かないまま閉じました: 送れずに残っていたパケット %2 個分（%3 バイト）を捨てました。")
                     .arg(portLabel(number, device), QString::number(packets), QString::number(dropped));
    return false;
}

void SerialLink::SendPacket(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9)
{
    const int values[KeyPacket::kSize] = {b0, b1, b2, b3, b4, b5, b6, b7, b8, b9};
    KeyPacket packet;
    for (std::size_t i = 0; i < KeyPacket::kSize; ++i) {
        if (values[i] < 0 || values[i] > 255)
            throw std::overflow_error("packet byte out of range");
        packet.bytes[i] = static_cast<std::uint8_t>(values[i]);
    }
    SendPacket(packet);
}

void SerialLink::SendPacket(const KeyPacket &packet)
{
    if (!port_.isOpen())
        return;
    if (port_.write(packet.toByteArray()))
        Q_EMIT packetSent(packet);
}
