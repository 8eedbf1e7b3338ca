// The main-job command: scripts/demo on this build tree runs the sample macro
// in the main program against the virtual handset and shows the keys and
// characters the handset decoded, in order; then the same mail waiting for
// its text on the model handset's screen as the model camera films it, the
// night's job with its pop-ups and resume, and the night's job dealt out to
// three model handsets.

#include "macro/passresults.h"
#include "support/programprocess.h"
#include "support/testshare.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

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

    // The demo keeps what it did in a folder of its own under TMPDIR.
    QTemporaryDir kept;
    QVERIFY(kept.isValid());
    ProgramProcess demo(QStringLiteral(QUILLONEMU_SOURCE_DIR "/scripts/demo"), {"--build-dir", build},
                        [&kept](QProcess &process) {
                            process.setProcessChannelMode(QProcess::MergedChannels);
                            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                            environment.insert(QStringLiteral("TMPDIR"), kept.path());
                            process.setProcessEnvironment(environment);
                        });
    // (About a minute and a half at the line's pace: the night's job is 10
    // passes, the job on three handsets 8 passes each.)
    if (!demo.waitForEnd(240'000))
        QFAIL("scripts/demo did not end within four minutes");
    const QString output = demo.out();
    // A failure's message is cut short by the test library: the whole
    // output goes to standard error first.
    if (!demo.endedNormally() || demo.exitCode() != 0)
        std::fprintf(stderr, "%s\n", qPrintable(output));
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

    // Then the closed loop against the filmed model handset: each wait
    // found what it waited for, and the mail went out whole.
    QVERIFY2(output.contains(QStringLiteral("11 行目 WAITIMAGE hello.png: 見つかりました")), qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("14 行目 WAITGONE hello.png: 消えました")));
    QVERIFY(output.contains(QStringLiteral("受け取ったパケット: 29 個")));

    // The night's job: the passes that met a pop-up (every third ENTER)
    // failed, the job went on to its end; resumed, it typed those two only.
    QVERIFY2(output.contains(QStringLiteral("巡の結果: 成功 6、失敗 2、やり直して成功 0")), qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("quillonemu-cli run の終了ステータス: 3")));
    QVERIFY(output.contains(QStringLiteral("  入力「09012345021」\n  入力「09012345042」\nアドレスファイル")));
    QVERIFY(output.contains(QStringLiteral("quillonemu-cli run --resume の終了ステータス: 0")));

    // The night's job on three model handsets: one closing line for the
    // job, and one results file with a handset column in which each of the
    // first 24 addresses is ok exactly once.
    QVERIFY2(output.contains(QStringLiteral("ジョブの巡をすべて実行しました。この実行: 3 台で 24 巡")), qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("巡の結果: 成功 24、失敗 0、やり直して成功 0")));
    QVERIFY(output.contains(QStringLiteral("quillonemu-cli run --handsets の終了ステータス: 0")));
    static const QRegularExpression folderLine(QStringLiteral("^==> demo の記録（[^）]*）: (.*)$"),
                                               QRegularExpression::MultilineOption);
    const QRegularExpressionMatch folder = folderLine.match(output);
    QVERIFY2(folder.hasMatch(), qPrintable(output));
    const QString resultsPath = folder.captured(1) + QStringLiteral("/handsets.csv");
    QFile resultsFile(resultsPath);
    QVERIFY2(resultsFile.open(QIODevice::ReadOnly), qPrintable(resultsPath));
    QVERIFY(resultsFile.readLine().split(',').contains("handset"));
    QString error;
    const std::optional<PassResults::Contents> results = PassResults::read(resultsPath, &error);
    QVERIFY2(results, qPrintable(error));
    QFile addresses(QStringLiteral(QUILLONEMU_SOURCE_DIR "/examples/night-address.txt"));
    QVERIFY(addresses.open(QIODevice::ReadOnly));
    QStringList expectedAddresses;
    while (expectedAddresses.size() < 24)
        expectedAddresses.append(QString::fromLatin1(addresses.readLine().trimmed()));
    expectedAddresses.sort();
    QStringList okAddresses;
    QSet<QString> handsets;
    for (const PassRecord &row : results->rows) {
        if (row.result == PassRecord::Result::Ok)
            okAddresses.append(row.address);
        handsets.insert(row.handset);
    }
    okAddresses.sort();
    QCOMPARE(okAddresses, expectedAddresses);
    QCOMPARE(results->rows.size(), 24);
    // Dealt out: more than one handset took passes, each one of the file.
    QVERIFY2(handsets.size() > 1, qPrintable(QStringList(handsets.values()).join(u',')));
    QVERIFY((handsets - QSet<QString>{QStringLiteral("H1"), QStringLiteral("H2"), QStringLiteral("H3")}).isEmpty());
}

QUILLON_TEST_GUILESS_MAIN(TestDemo)
#include "test_demo.moc"
