#include "handset/linesettings.h"

#include "platform/linetiming.h"

QStringList lineSettingDifferences(const LineSettings &s)
{
    QStringList differences;
    if (s.baud != LineTiming::kBaudRate) {
        const QString shown = s.baud < 0 ? QStringLiteral("不明") : QString::number(s.baud);
        differences.append(QStringLiteral("速度が %1 ボーです（%2 ボーのはず）").arg(shown).arg(LineTiming::kBaudRate));
    }
    if (s.dataBits != 8)
        differences.append(QStringLiteral("データビットが 8 ではありません"));
    if (s.stopBits != 1)
        differences.append(QStringLiteral("ストップビットが 2 です（1 のはず）"));
    if (s.hardwareFlow)
        differences.append(QStringLiteral("ハードウェアフロー制御 (RTS/CTS) が有効です（なしのはず）"));
    if (s.softwareFlow)
        differences.append(QStringLiteral("ソフトウェアフロー制御 (XON/XOFF) が有効です（なしのはず）"));
    if (!s.rawOutput)
        differences.append(QStringLiteral("出力が加工されます (OPOST)（そのまま送るはず）"));
    return differences;
}
