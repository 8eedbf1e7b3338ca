// The user guide: reading MHTML, the way of the guide to the browser (a fake
// opener first on PATH stands for the desktop's), the messages when nothing
// can show it, and the shipped help.mht holding the page and pictures of
// docs/.

#include "app/frmmain.h"
#include "platform/mhtml.h"
#include "support/recordingdesktop.h"
#include "support/testshare.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A guide of one page and one picture, the way Windows writes them.
const QByteArray kGuide = "Content-Type: multipart/related; type=\"text/html\";\r\n"
                          " boundary=\"----=_B\"\r\n"
                          "\r\n"
                          "preamble\r\n"
                          "------=_B\r\n"
                          "Content-Type: text/html; charset=\"utf-8\"\r\n"
                          "Content-Transfer-Encoding: quoted-printable\r\n"
                          "Content-Location: file:///help.htm\r\n"
                          "\r\n"
                          "<p>=E7=9B=AE=E6=AC=A1</p><img src=3D\"main.png\">=\r\n"
                          "end\r\n"
                          "------=_B\r\n"
                          "Content-Type: image/png\r\n"
                          "Content-Transfer-Encoding: base64\r\n"
                          "Content-Location: file:///main.png\r\n"
                          "\r\n"
                          "iVBO\r\nRw==\r\n"
                          "------=_B--\r\n";

} // namespace

class TestGuide : public QObject {
    Q_OBJECT
private slots:
    void readsArchives_data();
    void readsArchives();
    void guideGoesToTheBrowser_data();
    void guideGoesToTheBrowser();
    void shippedGuideHoldsTheDocs();
};

void TestGuide::readsArchives_data()
{
    QTest::addColumn<QByteArray>("data");
    // "name|type|body" per part, or "error" for no archive.
    QTest::addColumn<QStringList>("parts");

    QTest::newRow("page and picture, CR LF") << kGuide
                                             << QStringList{QStringLiteral("help.htm|text/html|<p>目次</p><img src=\"main.png\">end"),
                                                            QStringLiteral("main.png|image/png|\x89PNG")};
    QTest::newRow("LF, folded type, unquoted boundary, soft break with spaces")
        << QByteArray("Content-Type: multipart/related;\n\tboundary=XY\n\n--XY\nContent-Type: TEXT/HTML\n"
                      "Content-Transfer-Encoding: Quoted-Printable\n\na=3Db= \nc=ZZ\n--XY--\n")
        << QStringList{QStringLiteral("part1|text/html|a=bc=ZZ")};
    QTest::newRow("locations that are no plain file name")
        << QByteArray("Content-Type: multipart/related; boundary=\"b\"\n\n--b\nContent-Type: text/html\n"
                      "Content-Location: file:///\n\nx\n--b\nContent-Type: image/png\n"
                      "Content-Location: C:\\guide\\a.png\n\ny\n--b\nContent-Type: image/png\n"
                      "Content-Location: http://example.jp/pictures/../b.png?size=2\n\nz\n--b--\n")
        << QStringList{QStringLiteral("part1|text/html|x"), QStringLiteral("part2|image/png|y"),
                       QStringLiteral("b.png|image/png|z")};
    QTest::newRow("a lone page") << QByteArray("Content-Type: text/html\n\n<p>x</p>\n")
                                 << QStringList{QStringLiteral("part1|text/html|<p>x</p>\n")};
    QTest::newRow("not MIME") << QByteArray("<html>not an archive</html>") << QStringList{QStringLiteral("error")};
    QTest::newRow("no boundary") << QByteArray("Content-Type: multipart/related\n\nx") << QStringList{QStringLiteral("error")};
    QTest::newRow("no page") << QByteArray("Content-Type: multipart/related; boundary=b\n\n--b\n"
                                           "Content-Type: image/png\n\ny\n--b--\n")
                             << QStringList{QStringLiteral("error")};
    QTest::newRow("empty") << QByteArray() << QStringList{QStringLiteral("error")};
}

void TestGuide::readsArchives()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, parts);
    QString error;
    const std::optional<QList<MhtmlPart>> read = readMhtml(data, &error);
    QStringList got;
    if (!read) {
        QVERIFY(!error.isEmpty());
        got.append(QStringLiteral("error"));
    }
    for (const MhtmlPart &part : read.value_or(QList<MhtmlPart>())) {
        got.append(part.fileName + u'|' + QString::fromLatin1(part.contentType) + u'|' +
                   (part.contentType == "image/png" ? QString::fromLatin1(part.body) : QString::fromUtf8(part.body)));
    }
    QCOMPARE(got, parts);
}

void TestGuide::guideGoesToTheBrowser_data()
{
    QTest::addColumn<QByteArray>("guide");
    QTest::addColumn<QString>("opener"); // the fake xdg-open's exit status, or "none"
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("message"); // a part of the message

    QTest::newRow("the browser shows it") << kGuide << "0" << true << QString();
    QTest::newRow("no browser") << kGuide << "3" << false << QStringLiteral("終了コード 3");
    QTest::newRow("no opener") << kGuide << "none" << false << QStringLiteral("xdg-open がありません");
    QTest::newRow("no MHTML") << QByteArray("plain text") << "0" << false << QStringLiteral("MHTML 形式ではありません");
}

void TestGuide::guideGoesToTheBrowser()
{
#if defined(Q_OS_WIN)
    QSKIP("On Windows the shell opens help.mht itself");
#endif
    QFETCH(QByteArray, guide);
    QFETCH(QString, opener);
    QFETCH(bool, shown);
    QFETCH(QString, message);

    // The desktop's opener: records the address it was given.
    QTemporaryDir dir;
    const QString bin = dir.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    const QString log = dir.filePath(QStringLiteral("opened"));
    if (opener != QLatin1String("none")) {
        const QString script = QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\nexit %2\n").arg(log, opener);
        QVERIFY(writeFile(bin + QStringLiteral("/xdg-open"), script.toUtf8()));
        QVERIFY(QFile::setPermissions(bin + QStringLiteral("/xdg-open"), QFile::ReadOwner | QFile::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + (opener == QLatin1String("none") ? QByteArray() : ":" + path));

    // The guide in the current directory, the page unpacked into the cache.
    const QString work = dir.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const QString help = work + QStringLiteral("/help.mht");
    QVERIFY(writeFile(help, guide));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work));
    RecordingDesktop desktop;
    desktop.realGuide = true;
    desktop.guidePageDir = dir.filePath(QStringLiteral("cache/help"));
    // A link where the page's folder goes: replaced, never followed.
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere/keep.txt"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("cache"))) && QDir().mkpath(dir.filePath(QStringLiteral("elsewhere"))));
    QVERIFY(writeFile(elsewhere, "keep") && QFile::link(dir.filePath(QStringLiteral("elsewhere")), desktop.guidePageDir));
    frmMain w(desktop);
    QStringList &messages = desktop.messages;
    w.mnuHelpContents->trigger();
    QDir::setCurrent(previous);

    if (shown) {
        QTRY_VERIFY(QFile::exists(log));
        const QString page = desktop.guidePageDir + QStringLiteral("/help.htm");
        QTRY_COMPARE(QString::fromUtf8(readFile(log)).trimmed(), QUrl::fromLocalFile(page).toString());
        QCOMPARE(QString::fromUtf8(readFile(page)), QStringLiteral("<p>目次</p><img src=\"main.png\">end"));
        QCOMPARE(readFile(desktop.guidePageDir + QStringLiteral("/main.png")), QByteArray("\x89PNG"));
        // The opener has ended well: nothing to say.
        QTRY_VERIFY_WITH_TIMEOUT(!w.findChild<QProcess *>(), 10'000);
        QVERIFY(messages.isEmpty());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10'000);
        QVERIFY2(messages[0].contains(QDir::toNativeSeparators(help)) && messages[0].contains(message),
                 qPrintable(messages[0]));
    }
    QCOMPARE(readFile(elsewhere), QByteArray("keep"));
    qputenv("PATH", path);
}

void TestGuide::shippedGuideHoldsTheDocs()
{
    // help.mht is made from docs/ by scripts/helpfile: the same page, and
    // every picture the page shows, byte for byte.
    QString error;
    const std::optional<QList<MhtmlPart>> parts =
        readMhtml(readFile(QStringLiteral(QUILLONEMU_SOURCE_DIR "/help.mht")), &error);
    QVERIFY2(parts, qPrintable(error));
    const QByteArray page = readFile(QStringLiteral(QUILLONEMU_SOURCE_DIR "/docs/guide.html"));
    QVERIFY(!page.isEmpty());
    QCOMPARE(parts->first().contentType, QByteArray("text/html"));
    QVERIFY2(parts->first().body == page, "help.mht is older than docs/guide.html: run scripts/helpfile");

    QStringList pictures;
    const QRegularExpression img(QStringLiteral("<img[^>]*\\bsrc=\"([^\"]+)\""));
    for (auto match = img.globalMatch(QString::fromUtf8(page)); match.hasNext();)
        pictures.append(match.next().captured(1));
    QVERIFY(!pictures.isEmpty());
    for (const QString &picture : pictures) {
        const auto part = std::find_if(parts->cbegin(), parts->cend(),
                                       [&](const MhtmlPart &p) { return p.fileName == picture; });
        QVERIFY2(part != parts->cend(), qPrintable(picture));
        QVERIFY2(part->body == readFile(QStringLiteral(QUILLONEMU_SOURCE_DIR "/docs/") + picture),
                 qPrintable(picture + QStringLiteral(" differs from docs/: run scripts/helpfile")));
    }
}

QUILLON_TEST_MAIN(TestGuide)
#include "test_guide.moc"
