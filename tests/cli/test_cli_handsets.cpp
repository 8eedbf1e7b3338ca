// One job on many handsets: the handsets file as read before the first
// packet, and quillonemu-cli run --handsets against model handsets on ptys.

#include "cli/handsetsfile.h"
#include "support/tempfiles.h"

#include <QtTest>

class TestCliHandsets : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void handsetsFile_data();
    void handsetsFile();

private:
    TempFiles files_;
};

void TestCliHandsets::handsetsFile_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("use");
    QTest::addColumn<QString>("read"); // name port device screen; …, or the error
    qputenv("QUILLONEMU_COM3", "/dev/ttyS9");

    QTest::newRow("paths and numbers, in the file's order")
        << "[B]\nport=/dev/ttyUSB1\nscreen=camera:1\n\n[A]\nport = 3\nscreen=http://192.0.2.10:8080/v?a=1,2\n" << ""
        << "B /dev/ttyUSB1 /dev/ttyUSB1 camera:1 1; A 3 /dev/ttyS9 http://192.0.2.10:8080/v?a=1,2 5";
    QTest::newRow("--use picks, in its order") << "[A]\nport=/dev/a\n[B]\nport=/dev/b\n[C]\nport=/dev/c\n"
                                               << "C,A" << "C /dev/c /dev/c  5; A /dev/a /dev/a  1";
    QTest::newRow("a missing port") << "[A]\nport=/dev/a\n\n[B]\nscreen=camera\n" << ""
                                    << "の 4 行目: [B] にポートがありません";
    QTest::newRow("the same port twice") << "[A]\nport=3\n[B]\nport=/dev/ttyS9\n" << ""
                                         << "の 4 行目: [B] のポート /dev/ttyS9 は [A]（1 行目）と同じデバイス";
    QTest::newRow("an unknown key") << "[A]\nport=/dev/a\ncamera=1\n" << "" << "の 3 行目: [A] の camera= は知らないキー";
    QTest::newRow("a section without a name") << "[A]\nport=/dev/a\n[ ]\nport=/dev/b\n" << ""
                                              << "の 3 行目: 名前のないセクション";
    QTest::newRow("a key outside a section") << "port=/dev/a\n[A]\nport=/dev/b\n" << ""
                                             << "の 1 行目: port= がどの携帯電話機のセクションにもありません";
    QTest::newRow("a port that is neither") << "[A]\nport=ttyUSB0\n" << "" << "の 2 行目: [A] の port=ttyUSB0 はポート番号でも";
    QTest::newRow("a section twice") << "[A]\nport=/dev/a\n[A]\nscreen=camera\n" << "" << "の 3 行目: [A] が 2 度あります";
    QTest::newRow("no handset") << "; nothing\n" << "" << "携帯電話機が 1 台も書かれていません";
    QTest::newRow("--use of an unknown one") << "[A]\nport=/dev/a\n" << "A,Z" << "に「Z」はありません（あるのは A）";
}

void TestCliHandsets::handsetsFile()
{
    QFETCH(QString, ini);
    QFETCH(QString, use);
    QFETCH(QString, read);

    const QString path = files_.writeBytes(QStringLiteral("lab-%1.ini").arg(QTest::currentDataTag()).replace(u' ', u'-'),
                                           ini.toUtf8());
    QString error;
    const std::optional<HandsetsFile> file = HandsetsFile::read(path, &error);
    std::optional<QList<HandsetEntry>> taken;
    if (file)
        taken = file->take(use.split(u',', Qt::SkipEmptyParts), &error);
    if (!taken) {
        QVERIFY2(error.contains(read) && error.contains(path), qPrintable(error));
        return;
    }
    QStringList got;
    for (const HandsetEntry &h : *taken)
        got.append(QStringLiteral("%1 %2 %3 %4 %5").arg(h.name, h.port, h.device, h.screen).arg(h.line));
    QCOMPARE(got.join(QStringLiteral("; ")), read);
}

QTEST_MAIN(TestCliHandsets)
#include "test_cli_handsets.moc"
