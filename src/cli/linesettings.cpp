#include "cli/linesettings.h"

#include "platform/linetiming.h"

namespace {

struct Speed {
    speed_t speed;
    int baud;
};

constexpr Speed kSpeeds[] = {
    {B0, 0},         {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},     {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},
    {B1800, 1800},   {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400}, {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
};

constexpr tcflag_t kSoftwareFlow = IXON | IXOFF;

} // namespace

int baudRate(speed_t speed)
{
    for (const Speed &s : kSpeeds) {
        if (s.speed == speed)
            return s.baud;
    }
    return -1;
}

QStringList lineSettingDifferences(const termios &t)
{
    QStringList differences;
    const int baud = baudRate(::cfgetospeed(&t));
    if (baud != LineTiming::kBaudRate) {
        const QString shown = baud < 0 ? QStringLiteral("不明") : QString::number(baud);
        differences.append(QStringLiteral("速度が %1 ボーです（%2 ボーのはず）").arg(shown).arg(LineTiming::kBaudRate));
    }
    if ((t.c_cflag & CSIZE) != CS8)
        differences.append(QStringLiteral("データビットが 8 ではありません"));
    if (t.c_cflag & CSTOPB)
        differences.append(QStringLiteral("ストップビットが 2 です（1 のはず）"));
    if (t.c_cflag & CRTSCTS)
        differences.append(QStringLiteral("ハードウェアフロー制御 (RTS/CTS) が有効です（なしのはず）"));
    if (t.c_iflag & kSoftwareFlow)
        differences.append(QStringLiteral("ソフトウェアフロー制御 (XON/XOFF) が有効です（なしのはず）"));
    if (t.c_oflag & OPOST)
        differences.append(QStringLiteral("出力が加工されます (OPOST)（そのまま送るはず）"));
    return differences;
}

bool sameLineSettings(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b);
}
