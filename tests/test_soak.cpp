// A long job: GETSTR, SENDSTR, REPEAT for many passes through the real run and
// a real pseudo-terminal, on a fake clock. Every packet must arrive in order,
// the counter must be exact, and memory must not grow with the passes.
// QUILLONEMU_SOAK_PASSES sets the number of passes (a short run by default;
// 100000 for the full soak).

#include "link/textsender.h"
#include "support/fakerun.h"
#include "support/testshare.h"

#include <QFile>
#include <QtTest>
#include <deque>

namespace {

// Resident memory of this process in kB.
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString address(int pass)
{
    return QStringLiteral("p%1").arg(pass);
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void manyPasses();
};

void TestSoak::manyPasses()
{
    const int passes = qEnvironmentVariableIsSet("QUILLONEMU_SOAK_PASSES")
                           ? qEnvironmentVariableIntValue("QUILLONEMU_SOAK_PASSES")
                           : 3000;
    QVERIFY(passes >= 1000);
    FakeRun r;
    QByteArray addresses;
    for (int pass = 1; pass <= passes; ++pass)
        addresses += address(pass).toLatin1() + "\r\n";
    r.settings.AddrFile = r.files.writeBytes("addr.txt", addresses);
    r.setMacro({"GETSTR", "SENDSTR", "REPEAT"});
    r.host.keepHistory = false;

    // The handset reads at every wait and checks each packet against the
    // next one expected.
    std::deque<QByteArray> expected;
    int expectedPasses = 0;
    QByteArray pending;
    qint64 packets = 0;
    bool inOrder = true;
    auto readHandset = [&] {
        pending += r.pty.readReady();
        while (pending.size() >= 10 && inOrder) {
            while (expected.empty() && expectedPasses < passes) {
                for (const KeyPacket &p : TextSender::packetsForCharacters(address(++expectedPasses)))
                    expected.push_back(p.toByteArray());
            }
            inOrder = !expected.empty() && pending.left(10) == expected.front();
            expected.pop_front();
            pending.remove(0, 10);
            ++packets;
        }
    };
    qint64 rssAt1000 = 0;
    r.waiter.onSleep = [&](double) {
        readHandset();
        if (rssAt1000 == 0 && r.host.counter == QLatin1String("1000"))
            rssAt1000 = residentKb();
        return false;
    };

    QCOMPARE(r.run(), MacroRunner::Outcome::Finished); // the address file runs out after the last pass
    readHandset();
    const qint64 rssAtEnd = residentKb();
    qInfo("%d passes, %lld packets; resident memory %lld kB at pass 1000, %lld kB at the end", passes,
          static_cast<long long>(packets), static_cast<long long>(rssAt1000), static_cast<long long>(rssAtEnd));

    QVERIFY(inOrder);
    QCOMPARE(expectedPasses, passes);
    QVERIFY(expected.empty());
    QVERIFY(pending.isEmpty());
    QCOMPARE(r.host.counter, QString::number(passes));
    QVERIFY(r.runner.addressFileDone());
    QVERIFY2(r.host.messages.isEmpty(), qPrintable(r.host.messages.value(0)));
    QVERIFY(r.endedInOrder());
#ifndef QUILLONEMU_SANITIZE
    // Allocator noise, nothing like a leak per pass. (The address sanitizer
    // holds freed memory back on purpose; its leak check covers that build.)
    QVERIFY2(rssAtEnd - rssAt1000 < 8 * 1024, "resident memory grew with the passes");
#endif
}

QUILLON_TEST_GUILESS_MAIN(TestSoak)
#include "test_soak.moc"
