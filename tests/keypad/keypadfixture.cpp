#include "keypadfixture.h"

#include "link/keytable.h"
#include "support/packets.h"

#include <QPushButton>
#include <QTest>

namespace {

// No key of the handset sends this.
constexpr KeyPacket kMarker = KeyPacket::make(KeyPacket::Key, 0x7E, 0x7E, 0x7E, 0x7E);

} // namespace

KeypadFixture::KeypadFixture(const QString &portText)
{
    pty.bindPort(kPort);
    windows.showKeyboard(QStringLiteral("QuillonEmu"), QStringLiteral("release 25F"), portText);
    // The text entry window shows once the keypad is on the screen.
    if (!QTest::qWaitFor([this] { return input()->isVisible(); }, 5000))
        qWarning("the text entry window did not show within 5 s");
}

QString KeypadFixture::connectCaption() const
{
    return keyboard()->Command1[39]->text();
}

bool KeypadFixture::connectPort()
{
    keyboard()->Command1_Click(39);
    return connectCaption() == QStringLiteral("接続中");
}

QStringList KeypadFixture::received()
{
    keyboard()->MSComm1.SendPacket(kMarker);
    const QByteArray marker = kMarker.toByteArray();
    QByteArray bytes;
    while (!bytes.endsWith(marker)) {
        const QByteArray more = pty.read(1);
        if (more.isEmpty())
            return {QStringLiteral("no marker after: ") + QString::fromLatin1(bytes.toHex(' ').toUpper())};
        bytes += more;
    }
    bytes.chop(marker.size());
    return packetList(bytes);
}

QString packetOf(const QString &keyName)
{
    const std::optional<KeyPacket> packet = KeyTable::find(keyName);
    return packet ? packet->toHex() : QStringLiteral("no key ") + keyName;
}
