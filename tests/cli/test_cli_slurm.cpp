// quillonemu-cli slurm and run --handset-from-slurm against a real Slurm on
// this machine: munged, slurmctld and slurmd started as root on private
// ports, every file in a temporary folder, the node's four handsets the
// model handset on ptys with its screen stream (its gres.conf written by
// slurm gres). One set of daemons for every case; each is stopped by its pid.

#include "cli/slurmhandset.h"
#include "support/programprocess.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTcpServer>
#include <QtTest>
#include <csignal>
#include <memory>
#include <vector>
#include <unistd.h>

// Slurm's daemons start only as root (as CI runs); without them installed,
// or when they do not come up, the case fails.
#define REQUIRE_SLURM()                                                                                     \
    do {                                                                                                    \
        if (::geteuid() != 0)                                                                               \
            QSKIP("munged, slurmctld and slurmd start only as root: run the test as root (CI does)");      \
        if (!slurmUp())                                                                                     \
            QFAIL(qPrintable(why_));                                                                        \
    } while (false)

class TestCliSlurm : public QObject {
    Q_OBJECT
private slots:
    void slurmText_data();
    void slurmText();
    void outsideSlurm();
    void refusesWithoutItsHandset();
    void jobAcrossHandsets();
    void handsetLostAndResumed();
    void cleanupTestCase();

private:
    // Starts the daemons and the handsets once; false (the case skipped or
    // failed) when this machine cannot.
    bool slurmUp();
    // A model handset on a pty at `link`, its screen streamed; its address in
    // `screen`.
    static std::unique_ptr<CliProcess> startHandset(const QString &link, QString *screen);
    QStringList typedOnAll(const QString &pattern);
    // A Slurm command's output; empty and a failed check when it fails.
    QString slurm(const QString &program, const QStringList &arguments);
    // The addresses typed on `handset`: its characters, cut by `pattern`.
    static QStringList typed(CliProcess &handset, const QString &pattern);
    // Waits until the job's finishing job has merged its results.
    bool merged(const QString &dir);

    TempFiles files_;
    bool tried_ = false;
    bool up_ = false;
    QString why_; // why Slurm is not up
    std::unique_ptr<ProgramProcess> munged_;
    std::unique_ptr<ProgramProcess> slurmctld_;
    std::unique_ptr<ProgramProcess> slurmd_;
    std::vector<std::unique_ptr<CliProcess>> handsets_; // A, B, C, D
    QString macro_;
};

void TestCliSlurm::slurmText_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key"); // the node, or the job
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("range with widths") << "range" << "lab[08-10,3]" << "" << QStringList{"lab08", "lab09", "lab10", "lab3"};
    QTest::newRow("plain name") << "range" << "/dev/ttyUSB0" << "" << QStringList{"/dev/ttyUSB0"};
    // gres.conf: only this node's handsets, in the file's order, ranges
    // expanded; other resources and comments left out.
    const QString gres = "# A\nName=handset File=/dev/ttyUSB[0-1]\nName=gpu File=/dev/nvidia0\n"
                         "NodeName=pc[1-2],pc7 Name=handset File=/dev/ttyACM0 # C\nNodeName=pc3 name=handset file=/dev/x\n";
    QTest::newRow("gres of pc7") << "gres" << gres << "pc7" << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0"};
    QTest::newRow("gres of pc3") << "gres" << gres << "pc3" << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/x"};
    // scontrol show job -d of an array's first task shows the others too.
    const QString job = "JobId=7 ArrayJobId=7 ArrayTaskId=3 JobName=x\n   JOB_GRES=handset:1\n"
                        "     Nodes=n CPU_IDs=1 Mem=64 GRES=handset:1(IDX:1)\n\n"
                        "JobId=8 ArrayJobId=7 ArrayTaskId=0 JobName=x\n     Nodes=n CPU_IDs=0 Mem=64 GRES=handset:1(IDX:0)\n\n"
                        "JobId=9 JobName=y\n     Nodes=n CPU_IDs=0 Mem=64 GRES=gpu:1(IDX:0),handset:a:2(IDX:2-3)\n\n"
                        "JobId=10 JobName=z\n     Nodes=n CPU_IDs=0 Mem=64 GRES=\n";
    QTest::newRow("job 7") << "job" << job << "7" << QStringList{"1"};
    QTest::newRow("job 8") << "job" << job << "8" << QStringList{"0"};
    QTest::newRow("typed, two") << "job" << job << "9" << QStringList{"2", "3"};
    QTest::newRow("no handset") << "job" << job << "10" << QStringList{};
}

void TestCliSlurm::slurmText()
{
    QFETCH(QString, what);
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QStringList, expected);
    QStringList got;
    if (what == "range")
        got = expandSlurmRange(text);
    else if (what == "gres")
        got = handsetDevicesOfNode(text, key);
    for (const int index : what == "job" ? allocatedHandsetIndexes(text, key) : QList<int>{})
        got.append(QString::number(index));
    QCOMPARE(got, expected);
}

void TestCliSlurm::outsideSlurm()
{
    CliProcess run({"run", files_.writeShiftJis("m.txt", "UP\r\n"), "--handset-from-slurm"},
                   [](QProcess &p) {
                       QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
                       e.remove("SLURM_JOB_ID");
                       p.setProcessEnvironment(e);
                   });
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains("Slurm のジョブの中でだけ使えます"), qPrintable(run.err()));
}

std::unique_ptr<CliProcess> TestCliSlurm::startHandset(const QString &link, QString *screen)
{
    auto handset = std::make_unique<CliProcess>(QStringList{"handset", "--pty", "--link", link, "--json", "--screen-stream", "0"});
    if (!handset->waitForOutput("\"ready\""))
        return nullptr;
    const QRegularExpression url(QStringLiteral("http://127\\.0\\.0\\.1:\\d+/"));
    QDeadlineTimer deadline(10000);
    while (!url.match(handset->err()).hasMatch() && !deadline.hasExpired())
        QTest::qWait(20);
    *screen = url.match(handset->err()).captured();
    return screen->isEmpty() ? nullptr : std::move(handset);
}

QStringList TestCliSlurm::typedOnAll(const QString &pattern)
{
    QStringList addresses;
    for (const auto &handset : handsets_)
        addresses += typed(*handset, pattern);
    addresses.sort();
    return addresses;
}

bool TestCliSlurm::slurmUp()
{
    if (tried_)
        return up_;
    tried_ = true;
    for (const char *program : {"/usr/sbin/munged", "/usr/sbin/slurmctld", "/usr/sbin/slurmd", "/usr/bin/sbatch"}) {
        if (!QFileInfo::exists(program)) {
            why_ = QStringLiteral("%1 is missing: scripts/install-deps installs slurm-wlm and munge").arg(program);
            return false;
        }
    }
    why_ = "the virtual handsets, their gres.conf or the munge key could not be made";
    QString ini;
    for (const QString name : {"A", "B", "C", "D"}) {
        QString screen;
        handsets_.push_back(startHandset(files_.path("h" + name), &screen));
        if (!handsets_.back())
            return false;
        ini += QStringLiteral("[%1]\nport=%2\nscreen=%3\n\n").arg(name, files_.path("h" + name), screen);
    }
    const QString handsets = files_.writeBytes("handsets.ini", ini.toUtf8());
    // The node's gres.conf is what slurm gres prints.
    CliProcess gres({"slurm", "gres", handsets});
    if (!gres.waitForEnd() || gres.exitCode() != 0)
        return false;
    files_.writeBytes("gres.conf", gres.out().toUtf8());

    QFile key(files_.path("munge.key"));
    if (!key.open(QIODevice::WriteOnly))
        return false;
    for (int i = 0; i < 64; ++i)
        key.write(QByteArray::number(QRandomGenerator::global()->generate64(), 36));
    key.close();
    key.setPermissions(QFileDevice::ReadOwner);
    // Two free ports of this machine.
    QTcpServer first;
    QTcpServer second;
    if (!first.listen(QHostAddress::LocalHost) || !second.listen(QHostAddress::LocalHost))
        return false;
    const quint16 ctldPort = first.serverPort();
    const quint16 slurmdPort = second.serverPort();
    first.close();
    second.close();
    for (const char *dir : {"state", "spool"})
        QDir().mkpath(files_.path(dir));
    const QString conf = QStringLiteral(
        "ClusterName=quillontest\nSlurmctldHost=%1(127.0.0.1)\nSlurmctldPort=%2\nSlurmdPort=%3\n"
        "SlurmUser=root\nSlurmdUser=root\nAuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=%4\n"
        "StateSaveLocation=%5\nSlurmdSpoolDir=%6\nSlurmctldPidFile=%7/slurmctld.pid\nSlurmdPidFile=%7/slurmd.pid\n"
        "SlurmctldLogFile=%7/slurmctld.log\nSlurmdLogFile=%7/slurmd.log\n"
        "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\nMpiDefault=none\nSwitchType=switch/none\n"
        "JobAcctGatherType=jobacct_gather/none\nAccountingStorageType=accounting_storage/none\n"
        "SelectType=select/cons_tres\nSelectTypeParameters=CR_Core_Memory\n"
        // Tasks share the node's memory: each takes a little.
        "DefMemPerCPU=64\n"
        // Batch jobs scheduled as they come, not after Slurm's 3 s delay.
        "SchedulerParameters=batch_sched_delay=0,sched_min_interval=100000\nReturnToService=2\nSlurmdParameters=config_overrides\nGresTypes=handset\n"
        "NodeName=qnode NodeAddr=127.0.0.1 CPUs=8 RealMemory=1000 Gres=handset:4 State=UNKNOWN\n"
        "PartitionName=test Nodes=qnode Default=YES MaxTime=INFINITE State=UP\n")
                             .arg(QSysInfo::machineHostName().section('.', 0, 0))
                             .arg(ctldPort)
                             .arg(slurmdPort)
                             .arg(files_.path("munge.sock"), files_.path("state"), files_.path("spool"), files_.path(""));
    const QString confPath = files_.writeBytes("slurm.conf", conf.toUtf8());
    qputenv("SLURM_CONF", confPath.toLocal8Bit());

    munged_ = std::make_unique<ProgramProcess>(
        "/usr/sbin/munged", QStringList{"--foreground", "--force", "--socket=" + files_.path("munge.sock"),
                                        "--key-file=" + files_.path("munge.key"), "--pid-file=" + files_.path("munged.pid"),
                                        "--log-file=" + files_.path("munged.log"), "--seed-file=" + files_.path("munge.seed")});
    QDeadlineTimer socket(10000);
    while (!QFileInfo::exists(files_.path("munge.sock")) && !socket.hasExpired() && munged_->isRunning())
        QTest::qWait(20);
    slurmctld_ = std::make_unique<ProgramProcess>("/usr/sbin/slurmctld", QStringList{"-D", "-c", "-f", confPath});
    slurmd_ = std::make_unique<ProgramProcess>("/usr/sbin/slurmd", QStringList{"-D", "-f", confPath, "-N", "qnode"});
    // The node is idle once slurmd has registered.
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && slurmd_->isRunning() && slurmctld_->isRunning()) {
        QProcess sinfo;
        sinfo.start("sinfo", {"-h", "-o", "%T"});
        if (sinfo.waitForFinished(5000) && sinfo.readAllStandardOutput().trimmed() == "idle") {
            up_ = true;
            break;
        }
        QTest::qWait(100);
    }
    why_ = "Slurm did not come up within 30 s: " + munged_->err() + slurmctld_->err() + slurmd_->err();
    // A pass long enough for status to catch the job under way.
    macro_ = files_.writeShiftJis("job.txt", "GETSTR\r\nSENDSTR\r\nSLEEP 0.3\r\nREPEAT\r\n");
    return up_;
}

void TestCliSlurm::cleanupTestCase()
{
    if (up_) {
        QProcess scancel;
        scancel.start("scancel", {"--user=root"});
        scancel.waitForFinished(10000);
    }
    // Each daemon by its own pid, the last started first.
    for (ProgramProcess *daemon : {slurmd_.get(), slurmctld_.get(), munged_.get()}) {
        if (daemon && daemon->isRunning()) {
            daemon->sendSignal(SIGTERM);
            daemon->waitForEnd(20000);
        }
    }
}

QString TestCliSlurm::slurm(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning("%s: %s", qPrintable(program), process.readAllStandardError().constData());
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QStringList TestCliSlurm::typed(CliProcess &handset, const QString &pattern)
{
    QString characters;
    for (const QJsonObject &line : handset.jsonLines()) {
        if (line["event"].toString() == "packet")
            characters += line["tableCharacter"].toString();
    }
    QStringList found;
    QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(characters);
    while (it.hasNext())
        found.append(it.next().captured());
    return found;
}

bool TestCliSlurm::merged(const QString &dir)
{
    QDeadlineTimer deadline(60000);
    while (!QFileInfo::exists(dir + "/results.csv") && !deadline.hasExpired())
        QTest::qWait(50);
    return QFileInfo::exists(dir + "/results.csv");
}

void TestCliSlurm::refusesWithoutItsHandset()
{
    REQUIRE_SLURM();
    // A job without a handset, and one whose node file lacks the handset
    // allocated: both stop before sending anything, and say why.
    const QString wrong = files_.writeBytes("wrong.ini", "[Z]\nport=/dev/null\n");
    const QString cli = ProgramProcess::built("quillonemu-cli");
    const QString noGres = slurm("sbatch", {"--parsable", "--output=" + files_.path("no-gres.out"),
                                            "--wrap=" + cli + " run " + macro_ + " --handset-from-slurm"})
                               .trimmed();
    const QString disagree =
        slurm("sbatch", {"--parsable", "--gres=handset:1", "--output=" + files_.path("disagree.out"),
                         "--wrap=" + cli + " run " + macro_ + " --handset-from-slurm --handsets " + wrong})
            .trimmed();
    QVERIFY(!noGres.isEmpty() && !disagree.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(slurm("squeue", {"-h", "-j", noGres + "," + disagree}).trimmed().isEmpty(), 30000);
    QFile noGresOut(files_.path("no-gres.out"));
    QFile disagreeOut(files_.path("disagree.out"));
    QVERIFY(noGresOut.open(QIODevice::ReadOnly) && disagreeOut.open(QIODevice::ReadOnly));
    const QString noGresText = QString::fromUtf8(noGresOut.readAll());
    const QString disagreeText = QString::fromUtf8(disagreeOut.readAll());
    QVERIFY2(noGresText.contains("携帯電話機（GRES handset）が割り当てられていません"), qPrintable(noGresText));
    QVERIFY2(disagreeText.contains("携帯電話機の一覧ファイル「" + wrong + "」にありません"), qPrintable(disagreeText));
    QVERIFY(typedOnAll(".").isEmpty());
}

void TestCliSlurm::jobAcrossHandsets()
{
    REQUIRE_SLURM();
    // Forty passes, ten a task, over four handsets: every address typed once
    // on one of them, ok once in the job's one results file.
    QStringList addresses;
    for (const char letter : {'a', 'b', 'c', 'd'}) {
        for (int digit = 0; digit < 10; ++digit)
            addresses.append(QStringLiteral("%1%2").arg(QChar(letter)).arg(digit));
    }
    const QString addr = files_.writeShiftJis("a.txt", addresses.join("\r\n") + "\r\n");
    const QString dir = files_.path("job1");
    const QDateTime submitted = QDateTime::currentDateTimeUtc();
    CliProcess submit({"slurm", "submit", macro_, "--addr", addr, "--results", dir, "--passes-per-task", "10", "--handsets",
                       files_.path("handsets.ini")});
    QVERIFY(submit.waitForEnd(30000));
    QVERIFY2(submit.exitCode() == 0, qPrintable(submit.err()));
    QVERIFY2(submit.out().contains("スライス（タスク: 巡）: 0: 1-10、1: 11-20、2: 21-30、3: 31-40"), qPrintable(submit.out()));
    // Where the job stands once the handsets are typing.
    QTRY_VERIFY_WITH_TIMEOUT(!typedOnAll("[a-d]\\d").isEmpty(), 30000);
    CliProcess status({"slurm", "status", dir});
    QVERIFY(status.waitForEnd(30000));
    qInfo("%s", qPrintable(status.out()));
    QVERIFY2(status.out().contains("全 40 巡: "), qPrintable(status.out() + status.err()));
    QVERIFY(merged(dir));

    addresses.sort();
    QTRY_COMPARE_WITH_TIMEOUT(typedOnAll("[a-d]\\d"), addresses, 5000);
    QFile results(dir + "/results.csv");
    QVERIFY(results.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(results.readAll());
    QCOMPARE(csv.count(",ok,"), 40);
    CliProcess merge({"slurm", "merge", dir});
    QVERIFY(merge.waitForEnd(30000));
    QCOMPARE(merge.exitCode(), 0);
    QVERIFY2(merge.out().contains("全 40 巡: 成功 40、失敗 0、実行中 0、未実行 0。"), qPrintable(merge.out()));
    QVERIFY(QFileInfo::exists(dir + "/results.xml"));
    // Each task took its handset's screen from the node's file.
    QDir logs(dir + "/logs");
    QCOMPARE(logs.entryList({"task-*.out"}).size(), 4);
    for (const QString &name : logs.entryList({"task-*.out"})) {
        QFile out(logs.filePath(name));
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(out.readAll());
        QVERIFY2(text.contains("、画面 http://127.0.0.1:"), qPrintable(name + ": " + text));
    }

    // The figures of a lab: from submitting to the first packet, and what
    // each task costs beyond its passes (four handsets work side by side).
    QDateTime firstPacket;
    for (const auto &handset : handsets_) {
        for (const QJsonObject &line : handset->jsonLines()) {
            const QDateTime arrival = QDateTime::fromString(line["arrival"].toString(), Qt::ISODateWithMs);
            if (line["event"].toString() == "packet" && (!firstPacket.isValid() || arrival < firstPacket))
                firstPacket = arrival;
        }
    }
    double busy = 0;
    QDateTime lastEnd;
    const QRegularExpression row(",ok,1,,,,,([^,]+),([0-9.]+),");
    for (QRegularExpressionMatchIterator it = row.globalMatch(csv); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        busy += m.captured(2).toDouble();
        const QDateTime end = QDateTime::fromString(m.captured(1), Qt::ISODateWithMs).addMSecs(qint64(m.captured(2).toDouble() * 1000));
        lastEnd = !lastEnd.isValid() || end > lastEnd ? end : lastEnd;
    }
    const double wall = double(submitted.msecsTo(lastEnd.toUTC())) / 1000.0;
    qInfo("Slurm: first packet %.2f s after submitting; 4 tasks on 4 handsets: %.2f s in all, %.2f s typing, "
          "about %.2f s of scheduling a task",
          double(submitted.msecsTo(firstPacket.toUTC())) / 1000.0, wall, busy, wall - busy / 4);
}

void TestCliSlurm::handsetLostAndResumed()
{
    REQUIRE_SLURM();
    // Handset B goes away as it starts its slice (passes that take a while,
    // three a task): the slice's rest stays pending, the merge says so, and
    // resume finishes it once B is back.
    // Its recovery macro in a folder below is copied with it.
    QVERIFY(QDir().mkpath(files_.path("sub")));
    files_.writeShiftJis("sub/recover.txt", "CLEAR\r\n");
    const QString macro =
        files_.writeShiftJis("slow.txt", "ONFAIL sub/recover.txt\r\nGETSTR\r\nSENDSTR\r\nSLEEP 1\r\nREPEAT\r\n");
    QStringList addresses;
    for (int i = 0; i < 12; ++i)
        addresses.append(QStringLiteral("%1%2").arg(i < 10 ? 'e' : 'f').arg(i % 10));
    const QString addr = files_.writeShiftJis("b.txt", addresses.join("\r\n") + "\r\n");
    const QString dir = files_.path("job2");
    CliProcess submit({"slurm", "submit", macro, "--addr", addr, "--results", dir, "--passes-per-task", "3", "--handsets",
                       files_.path("handsets.ini")});
    QVERIFY(submit.waitForEnd(30000));
    QVERIFY2(submit.exitCode() == 0, qPrintable(submit.err()));
    QVERIFY(QFileInfo::exists(dir + "/job/sub/recover.txt"));
    CliProcess &b = *handsets_[1];
    QTRY_VERIFY_WITH_TIMEOUT(!typed(b, "[ef]").isEmpty(), 30000);
    // Where the job stands while B's task runs.
    CliProcess status({"slurm", "status", dir});
    QVERIFY(status.waitForEnd(30000));
    qInfo("%s", qPrintable(status.out()));
    QVERIFY2(status.out().contains("実行中: ノード qnode で巡 "), qPrintable(status.out() + status.err()));
    b.sendSignal(SIGKILL);
    QVERIFY(b.waitForEnd());
    QVERIFY(merged(dir));
    CliProcess merge({"slurm", "merge", dir});
    QVERIFY(merge.waitForEnd(30000));
    qInfo("%s", qPrintable(merge.out()));
    QCOMPARE(merge.exitCode(), 3);
    QVERIFY2(merge.out().contains("未実行の巡: "), qPrintable(merge.out()));

    QString screen;
    QFile::remove(files_.path("hB")); // the link a killed handset leaves
    handsets_[1] = startHandset(files_.path("hB"), &screen);
    QVERIFY(handsets_[1]);
    QVERIFY(QFile::remove(dir + "/results.csv"));
    CliProcess resume({"slurm", "resume", dir});
    QVERIFY(resume.waitForEnd(30000));
    QVERIFY2(resume.exitCode() == 0, qPrintable(resume.out() + resume.err()));
    QVERIFY(merged(dir));
    CliProcess after({"slurm", "merge", dir});
    QVERIFY(after.waitForEnd(30000));
    qInfo("%s", qPrintable(after.out()));
    QCOMPARE(after.exitCode(), 0);
    QFile results(dir + "/results.csv");
    QVERIFY(results.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(results.readAll()).count(",ok,"), 12);
}

QUILLON_TEST_GUILESS_MAIN(TestCliSlurm)
#include "test_cli_slurm.moc"
