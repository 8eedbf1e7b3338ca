// A task's handset: the one Slurm allocated, found in the node's handsets
// file by its device file; and the gres.conf lines that file makes.

#include "cli/slurmhandset.h"

#include "console/arguments.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "platform/portnumber.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace {

const QString kGresName = QStringLiteral("handset");

// A device file as one: the same file by any of its names.
QString sameFile(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

} // namespace

std::optional<QString> slurmCommand(const QString &program, const QStringList &arguments, QString *error,
                                    const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        *error = QStringLiteral("%1 %2 が 1 分たっても終わりませんでした（Slurm のコントローラに届かないようです）。")
                     .arg(program, arguments.join(u' '));
        return std::nullopt;
    }
    if (process.error() == QProcess::FailedToStart) {
        *error = QStringLiteral("%1 を起動できません（Slurm のコマンドがありません。slurm-client を入れてください）。").arg(program);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("%1 %2 が失敗しました: %3")
                     .arg(program, arguments.join(u' '), QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return std::nullopt;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString gresConfLines(const HandsetsFile &handsets)
{
    QString text = QStringLiteral("# gres.conf: このノードの携帯電話機（%1 から quillonemu-cli slurm gres で）\n").arg(handsets.path);
    for (const HandsetEntry &h : handsets.handsets) {
        text += QStringLiteral("# %1%2\n").arg(h.name, h.screen.isEmpty() ? QString() : QStringLiteral("（画面 %1）").arg(h.screen));
        text += QStringLiteral("Name=%1 File=%2\n").arg(kGresName, h.device);
    }
    // slurm.conf's part as comments: the whole output can be gres.conf.
    text += QStringLiteral("\n# slurm.conf には:\n#   GresTypes=%1\n#   このノードの NodeName 行に Gres=%1:%2\n")
                .arg(kGresName)
                .arg(handsets.handsets.size());
    return text;
}

QStringList expandSlurmRange(const QString &text)
{
    const qsizetype open = text.indexOf(u'[');
    const qsizetype close = text.indexOf(u']', open);
    if (open < 0 || close < 0)
        return {text};
    const QString head = text.left(open);
    const QString tail = text.mid(close + 1);
    QStringList names;
    for (const QString &part : text.mid(open + 1, close - open - 1).split(u',')) {
        const QStringList ends = part.split(u'-');
        bool firstOk = false;
        bool lastOk = false;
        const qint64 first = ends.value(0).toLongLong(&firstOk);
        const qint64 last = ends.size() == 2 ? ends[1].toLongLong(&lastOk) : first;
        if (!firstOk || (ends.size() == 2 && !lastOk) || ends.size() > 2 || last < first || last - first > 100000) {
            names.append(head + part + tail);
            continue;
        }
        // Leading zeros set the width: lab[01-10].
        const int width = ends.value(0).size();
        for (qint64 n = first; n <= last; ++n)
            names.append(head + QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0')) + tail);
    }
    return names;
}

QStringList handsetDevicesOfNode(const QString &gresConf, const QString &node)
{
    QStringList devices;
    for (QString line : gresConf.split(u'\n')) {
        line = line.left(line.indexOf(u'#')).trimmed();
        QString name;
        QString files;
        QStringList nodes;
        for (const QString &word : line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            const QString key = word.section(u'=', 0, 0).toLower();
            const QString value = word.section(u'=', 1);
            if (key == QLatin1String("name"))
                name = value;
            else if (key == QLatin1String("file"))
                files = value;
            else if (key == QLatin1String("nodename")) {
                for (const QString &part : value.split(QRegularExpression(QStringLiteral(",(?![^\\[]*\\])"))))
                    nodes += expandSlurmRange(part);
            }
        }
        if (name != kGresName || files.isEmpty() || (!nodes.isEmpty() && !nodes.contains(node)))
            continue;
        for (const QString &part : files.split(QRegularExpression(QStringLiteral(",(?![^\\[]*\\])"))))
            devices += expandSlurmRange(part);
    }
    return devices;
}

QList<int> allocatedHandsetIndexes(const QString &scontrolText, const QString &jobId)
{
    // Records begin "JobId=N"; the allocation's line holds GRES=handset:1(IDX:N).
    const QRegularExpression recordStart(QStringLiteral("(?:^|\\n)\\s*JobId=(\\d+)"));
    const QRegularExpression gres(QStringLiteral("GRES=\\S*?%1(?::[^:(\\s]+)?:\\d+\\(IDX:([0-9,\\-]+)\\)").arg(kGresName));
    QList<int> indexes;
    QRegularExpressionMatchIterator records = recordStart.globalMatch(scontrolText);
    QList<QRegularExpressionMatch> starts;
    while (records.hasNext())
        starts.append(records.next());
    for (qsizetype i = 0; i < starts.size(); ++i) {
        if (starts[i].captured(1) != jobId)
            continue;
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1].capturedStart() : scontrolText.size();
        const QString record = scontrolText.mid(starts[i].capturedStart(), end - starts[i].capturedStart());
        QRegularExpressionMatchIterator found = gres.globalMatch(record);
        while (found.hasNext()) {
            for (const QString &n : expandSlurmRange(QStringLiteral("[%1]").arg(found.next().captured(1))))
                indexes.append(n.toInt());
        }
    }
    return indexes;
}

std::optional<HandsetEntry> handsetFromSlurm(const QString &handsetsPath, const QProcessEnvironment &environment,
                                             QString *error)
{
    const QString jobId = environment.value(QStringLiteral("SLURM_JOB_ID"));
    if (jobId.isEmpty()) {
        *error = QStringLiteral("--handset-from-slurm は Slurm のジョブの中でだけ使えます（環境変数 SLURM_JOB_ID が"
                                "ありません）。sbatch で投入したタスクから実行してください。");
        return std::nullopt;
    }
    QString slurmError;
    const std::optional<QString> shown = slurmCommand(
        QStringLiteral("scontrol"), {QStringLiteral("show"), QStringLiteral("job"), QStringLiteral("-d"), jobId},
        &slurmError, environment);
    if (!shown) {
        *error = QStringLiteral("Slurm にジョブ %1 の割り当てを問い合わせられませんでした。%2").arg(jobId, slurmError);
        return std::nullopt;
    }
    const QList<int> indexes = allocatedHandsetIndexes(*shown, jobId);
    if (indexes.size() != 1) {
        *error = indexes.isEmpty()
                     ? QStringLiteral("Slurm のジョブ %1 には携帯電話機（GRES handset）が割り当てられていません。"
                                      "sbatch に --gres=handset:1 を付けて投入してください。")
                           .arg(jobId)
                     : QStringLiteral("Slurm のジョブ %1 には携帯電話機が %2 台割り当てられています。1 つのタスクで"
                                      "使うのは 1 台です（--gres=handset:1）。")
                           .arg(jobId)
                           .arg(indexes.size());
        return std::nullopt;
    }
    const QString slurmConf = environment.value(QStringLiteral("SLURM_CONF"), QStringLiteral("/etc/slurm/slurm.conf"));
    const QString gresPath = QFileInfo(slurmConf).absoluteDir().filePath(QStringLiteral("gres.conf"));
    QFile gresFile(gresPath);
    if (!gresFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("このノードの gres.conf「%1」を読めません: %2").arg(gresPath, gresFile.errorString());
        return std::nullopt;
    }
    const QString node = environment.value(QStringLiteral("SLURMD_NODENAME"));
    const QStringList devices = handsetDevicesOfNode(QString::fromUtf8(gresFile.readAll()), node);
    const int index = indexes.first();
    if (index < 0 || index >= devices.size()) {
        *error = QStringLiteral("Slurm が割り当てた携帯電話機 %1 番（0 から）は、ノード「%2」の gres.conf「%3」にありません"
                                "（handset は %4 台）。gres.conf を quillonemu-cli slurm gres で作り直し、slurmd を"
                                "再起動してください。")
                     .arg(index)
                     .arg(node, gresPath)
                     .arg(devices.size());
        return std::nullopt;
    }
    const std::optional<HandsetsFile> handsets = HandsetsFile::read(handsetsPath, error);
    if (!handsets)
        return std::nullopt;
    const QString device = sameFile(devices[index]);
    for (const HandsetEntry &h : handsets->handsets) {
        if (sameFile(h.device) == device)
            return h;
    }
    *error = QStringLiteral("Slurm が割り当てたデバイス「%1」（ノード「%2」の gres.conf「%3」の handset %4 番）は、"
                            "携帯電話機の一覧ファイル「%5」にありません。二つのファイルが食い違っています: gres.conf を"
                            "quillonemu-cli slurm gres %5 の出力で書き直してください。")
                 .arg(devices[index], node, gresPath)
                 .arg(index)
                 .arg(handsetsPath);
    return std::nullopt;
}

bool takeHandsetFromSlurm(const QString &command, Arguments &args, int *status)
{
    if (!args.has(QStringLiteral("handset-from-slurm")))
        return true;
    for (const char *name : {"port", "use"}) {
        if (args.has(QLatin1String(name))) {
            *status = usageError(command, QStringLiteral("--handset-from-slurm と --%1 は一緒に使えません（使う携帯電話機は"
                                                         "Slurm が割り当てた 1 台です）。")
                                              .arg(QLatin1String(name)));
            return false;
        }
    }
    QString error;
    const std::optional<HandsetEntry> handset = handsetFromSlurm(
        args.value(QStringLiteral("handsets"), kDefaultHandsetsFile), QProcessEnvironment::systemEnvironment(), &error);
    if (!handset) {
        Console::report(command, error);
        *status = ExitStatus::Failed;
        return false;
    }
    // The run's port 1 is the handset's device.
    qputenv(qPrintable(portVariableName(1)), handset->device.toLocal8Bit());
    args.values.insert(QStringLiteral("port"), QStringLiteral("1"));
    // The handsets file named where to look: the run is on this one handset.
    args.values.remove(QStringLiteral("handsets"));
    if (!handset->screen.isEmpty() && !args.has(QStringLiteral("screen")))
        args.values.insert(QStringLiteral("screen"), handset->screen);
    Console::out(QStringLiteral("Slurm が割り当てた携帯電話機: %1（%2%3）")
                     .arg(handset->name, handset->device,
                          handset->screen.isEmpty() ? QString() : QStringLiteral("、画面 %1").arg(handset->screen)));
    return true;
}
