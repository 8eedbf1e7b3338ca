#include "link/seriallink.h"

#include <stdexcept>

SerialLink::SerialLink(PortSource portSource, QObject *parent)
    : QObject(parent), portSource_(std::move(portSource))
{
    connect(&port_, &SerialPort::failed, this, &SerialLink::failed);
}

bool SerialLink::OpenPort()
{
    if (port_.isOpen())
        return true;
    return port_.open(portSource_());
}

void SerialLink::ClosePort()
{
    port_.close();
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
