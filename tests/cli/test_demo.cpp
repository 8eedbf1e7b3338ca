// The main-job command: scripts/demo on this build tree runs the sample macro
// in the main program against the virtual handset and shows the keys and
// characters the handset decoded, in order; then the same mail waiting for
// its text on the model handset's screen.

#include "support/programprocess.h"
#include "support/testshare.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The meanings the handset shows for `text` typed by STRING.
QStringList typed(const QString &text)
{
    QStringList list;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            list << QStringLiteral("文字 %1（%2）").arg(QChar(c.unicode() + 0xFEE0), c);
        else
            list << QStringLiteral("2 バイト文字 %1").arg(c);
    }
    return list;
}

QStringList keys(const QString &names)
{
    QStringList list;
    for (const QString &name : names.split(u' '))
        list << QStringLiteral("キー ") + name;
    return list;
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT
private slots:
    void sampleMacroReachesTheHandset();
};

void TestDemo::sampleMacroReachesTheHandset()
{
    const QString build = QStringLiteral(QUILLONEMU_BUILD_DIR);
    if (!QFileInfo(build + "/bin/quillonemu").isExecutable())
        QSKIP("bin/quillonemu is not built in this build tree");

    ProgramProcess demo(QStringLiteral(QUILLONEMU_SOURCE_DIR "/scripts/demo"), {"--build-dir", build},
                        [](QProcess &process) { process.setProcessChannelMode(QProcess::MergedChannels); });
    // (About a minute: the night's job is 10 passes at the line's pace.)
    if (!demo.waitForEnd(180'000))
        QFAIL("scripts/demo did not end within three minutes");
    const QString output = demo.out();
    QVERIFY2(demo.endedNormally() && demo.exitCode() == 0, qPrintable(output));

    // "12:00:00.000  12:00:00.183 (+0.183)  C4 01 02 03 00 00 02 06 00 00  キー MAIL"
    static const QRegularExpression packetLine(
        QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d{3}  \S+ \(\+[\d.]+\)  (?:[0-9A-F]{2} ){9}[0-9A-F]{2}  (.*)$)"),
        QRegularExpression::MultilineOption);
    QStringList meanings;
    for (const QRegularExpressionMatch &m : packetLine.globalMatch(output))
        meanings << m.captured(1);

    const QStringList expected = keys("MAIL DOWN ENTER") + typed("taro@example.jp") + keys("ENTER") +
                                 typed(QStringLiteral("こんにちは。QuillonEmuです。")) + keys("&ENTER CLEAR ONHOOK");
    QCOMPARE(meanings, expected);

    // Then the closed loop against the model screen's stream: each wait
    // found what it waited for, and the mail went out whole.
    QVERIFY2(output.contains(QStringLiteral("10 行目 WAITIMAGE hello.png: 見つかりました")), qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("13 行目 WAITGONE hello.png: 消えました")));
    QVERIFY(output.contains(QStringLiteral("受け取ったパケット: 29 個")));

    // The night's job: the passes that met a pop-up (every third ENTER)
    // failed, the job went on to its end; resumed, it typed those two only.
    QVERIFY2(output.contains(QStringLiteral("巡の結果: 成功 6、失敗 2、やり直して成功 0")), qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("quillonemu-cli run の終了ステータス: 3")));
    QVERIFY(output.contains(QStringLiteral("  入力「09012345021」\n  入力「09012345042」\nアドレスファイル")));
    QVERIFY(output.contains(QStringLiteral("quillonemu-cli run --resume の終了ステータス: 0")));
}

QUILLON_TEST_GUILESS_MAIN(TestDemo)
#include "test_demo.moc"
