#include "widgets/guide.h"

#include "platform/mhtml.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

#if !defined(Q_OS_WIN)
#if defined(Q_OS_MACOS)
const QString kOpener = QStringLiteral("open");
#else
const QString kOpener = QStringLiteral("xdg-open");
#endif

QString notShown(const QString &path, const QString &why, const QString &page)
{
    return QStringLiteral("ヘルプファイル「%1」を表示できません: %2。展開したページは「%3」にあります。")
        .arg(native(path), why, native(page));
}
#endif

} // namespace

QString unpackGuide(const QString &path, const QString &dir, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("ヘルプファイル「%1」を読めません（%2）。").arg(native(path), file.errorString());
        return {};
    }
    QString reason;
    const std::optional<QList<MhtmlPart>> parts = readMhtml(file.readAll(), &reason);
    if (!parts) {
        *error = QStringLiteral("ヘルプファイル「%1」を読めません: %2。").arg(native(path), reason);
        return {};
    }

    // The folder is the guide's alone and is made afresh; a link standing in
    // its place is removed, never followed.
    QDir folder(dir);
    QString page;
    const bool cleared = QFileInfo(dir).isSymLink() ? QFile::remove(dir) : (!folder.exists() || folder.removeRecursively());
    bool written = cleared && folder.mkpath(QStringLiteral("."));
    for (const MhtmlPart &part : *parts) {
        if (!written)
            break;
        QFile out(folder.filePath(part.fileName));
        written = out.open(QIODevice::WriteOnly) && out.write(part.body) == part.body.size();
        if (page.isEmpty() && part.contentType == "text/html")
            page = out.fileName();
    }
    if (!written) {
        *error = QStringLiteral("ヘルプファイル「%1」を「%2」に展開できません。").arg(native(path), native(dir));
        return {};
    }
    return page;
}

void openGuide(const QString &path, const QString &pageDir, QObject *context,
               const std::function<void(const QString &message)> &failed)
{
#if defined(Q_OS_WIN)
    // The shell's viewer reads MHTML; its answer is the real outcome here.
    Q_UNUSED(pageDir);
    Q_UNUSED(context);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        failed(QStringLiteral("ヘルプファイル「%1」を開けません。MHTML を表示できるプログラムがありません。").arg(native(path)));
#else
    QString error;
    const QString page = unpackGuide(path, pageDir, &error);
    if (page.isEmpty()) {
        failed(error);
        return;
    }
    // QDesktopServices::openUrl only says whether the opener started; its
    // exit status says whether anything showed the page.
    auto *opener = new QProcess(context);
    opener->setProgram(kOpener);
    opener->setArguments({QUrl::fromLocalFile(page).toString()});
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(opener, &QProcess::errorOccurred, opener, [=](QProcess::ProcessError problem) {
        if (problem != QProcess::FailedToStart)
            return;
        failed(notShown(path, QStringLiteral("ページを開くプログラム %1 がありません").arg(kOpener), page));
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::finished, opener, [=](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0) {
            failed(notShown(path,
                            QStringLiteral("%1 がページを開けませんでした（終了コード %2。ブラウザーがないときなど）")
                                .arg(kOpener)
                                .arg(status == QProcess::NormalExit ? code : -1),
                            page));
        }
        opener->deleteLater();
    });
    opener->start();
#endif
}
