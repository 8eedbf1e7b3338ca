#include "app/frmhandsets.h"

#include "app/frmscreen.h"
#include "app/sourceopening.h"
#include "macro/amounts.h"
#include "macro/characters.h"
#include "macro/passresults.h"
#include "macro/progresstext.h"
#include "rack/handsetsjob.h"
#include "screen/screenplugin.h"
#include "screen/sourceaddress.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"
#include "widgets/taskbar.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The whole job's progress as the command line's progress line gives it,
// and the passes an hour the end expected reckons with (before it, those of
// the job so far): "巡 12/200（6.0%） 失敗 1 | 終了予定 23:40（あと 25 分）|
// 毎時約 480 巡".
QString progressText(const JobProgress &progress, qint64 elapsedMs, double nowMs)
{
    QString text = ProgressText::passesField(progress, nowMs);
    const std::optional<qint64> end = progress.endCounter();
    if (progress.passes() == 0 || elapsedMs <= 0 || !end)
        return text;
    double perHour = 3'600'000.0 * double(progress.passes()) / double(elapsedMs);
    if (const std::optional<double> endsAt = progress.endsAtMs(); endsAt && *endsAt > nowMs && progress.counter() < *end)
        perHour = 3'600'000.0 * double(*end - progress.counter()) / (*endsAt - nowMs);
    return text + QStringLiteral(" | 毎時約 %1 巡").arg(formatCount(std::llround(perHour)));
}

} // namespace

frmHandsets::frmHandsets(Desktop &desktop, KeypadWindows &keypad) : desktop_(desktop), keypad_(keypad)
{
    setObjectName(QStringLiteral("frmHandsets"));
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setWindowTitle(QStringLiteral("携帯電話機の一覧"));

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblProgress->setTextFormat(Qt::PlainText);
    tblHandsets = new QTableWidget(0, ColumnCount, this);
    tblHandsets->setObjectName(QStringLiteral("tblHandsets"));
    tblHandsets->setHorizontalHeaderLabels({QStringLiteral("名前"), QStringLiteral("ポート"), QStringLiteral("画面"),
                                            QStringLiteral("カウンタ"), QStringLiteral("実行中の文"), QStringLiteral("巡"),
                                            QStringLiteral("失敗"), QStringLiteral("状態")});
    tblHandsets->verticalHeader()->hide();
    tblHandsets->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblHandsets->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblHandsets->setSelectionMode(QAbstractItemView::SingleSelection);
    tblHandsets->setToolTip(QStringLiteral("行をダブルクリックする（または Enter キーを押す）と、その携帯電話機の画面を開きます。"));
    tblHandsets->horizontalHeader()->setStretchLastSection(true);
    // As high as its rows (up to a screenful), as wide as its columns.
    tblHandsets->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    tblHandsets->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    txtLog->setReadOnly(true);
    txtLog->setMaximumBlockCount(500);
    txtLog->setFixedHeight(txtLog->fontMetrics().lineSpacing() * 4 + 12);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblProgress);
    layout->addWidget(tblHandsets, 1);
    layout->addWidget(txtLog);

    // A double-click, or Enter on the row.
    connect(tblHandsets, &QTableWidget::cellActivated, this, [this](int row, int) { openScreen(row); });
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &frmHandsets::showProgress);
}

frmHandsets::~frmHandsets()
{
    closeScreens();
}

void frmHandsets::closeScreens()
{
    for (const std::shared_ptr<Screen> &screen : std::as_const(screens_)) {
        if (screen)
            delete screen->window.data();
    }
    screens_.clear();
}

void frmHandsets::watch(HandsetsJob &job, const QString &listPath)
{
    if (job_)
        disconnect(job_, nullptr, this, nullptr);
    closeScreens();
    job_ = &job;
    listPath_ = listPath;
    ending_.clear();
    txtLog->clear();
    setWindowTitle(QStringLiteral("携帯電話機の一覧 - %1").arg(QFileInfo(listPath).fileName()));

    const int rows = int(job.run().handsets.size());
    screens_.resize(rows);
    tblHandsets->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        const HandsetEntry &entry = job.run().handsets[row];
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem();
            if (column == ColCounter || column == ColDone || column == ColFailed)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            tblHandsets->setItem(row, column, item);
        }
        tblHandsets->item(row, ColName)->setText(entry.name);
        tblHandsets->item(row, ColPort)->setText(entry.port);
        // (A stream's password shown as ***.)
        tblHandsets->item(row, ColScreen)->setText(entry.screen.isEmpty() ? QStringLiteral("なし") : shownSource(entry.screen));
        showRow(row);
    }
    tblHandsets->resizeColumnsToContents();
    // Room for what the columns will hold while the job goes on.
    const QFontMetrics metrics = tblHandsets->fontMetrics();
    const auto atLeast = [&](int column, const QString &text) {
        tblHandsets->setColumnWidth(column, std::max(tblHandsets->columnWidth(column), metrics.horizontalAdvance(text) + 16));
    };
    atLeast(ColCounter, QStringLiteral("00000"));
    atLeast(ColStatement, QStringLiteral("12 WAITTEXT 12 行目"));
    atLeast(ColDone, QStringLiteral("00000"));
    atLeast(ColState, QStringLiteral("抜けました: ポートに書き込めません"));
    tblHandsets->setCurrentItem(nullptr);
    int width = 2 * tblHandsets->frameWidth();
    for (int column = 0; column < ColumnCount; ++column)
        width += tblHandsets->columnWidth(column);
    tblHandsets->setMinimumWidth(width);
    adjustSize();

    connect(&job, &HandsetsJob::handsetChanged, this, &frmHandsets::showRow);
    connect(&job, &HandsetsJob::passCompleted, this, &frmHandsets::showProgress);
    connect(&job, &HandsetsJob::message, this, &frmHandsets::say);
    connect(&job, &HandsetsJob::failed, this,
            [this](int row, const RunFailure &failure) { say(row, failure.messageText()); });
    connect(&job, &HandsetsJob::handsetLeft, this, [this](int row, const QString &why, const QList<qint32> &back) {
        QString text = QStringLiteral("ジョブから抜けました: %1").arg(why);
        if (!back.isEmpty() && !job_->stopping()) {
            QStringList passes;
            for (const qint32 counter : back)
                passes.append(QString::number(qint64(counter) + 1));
            text += QStringLiteral("（途中だった巡 %1 はほかの携帯電話機に回します）").arg(passes.join(QStringLiteral("、")));
        }
        say(row, text);
    });
    connect(&job, &HandsetsJob::finished, this, [this] {
        tick_.stop();
        const PassTally tally = tallyPasses(lastRowOfEachPass(job_->records()));
        const qint64 waiting = job_->waiting();
        ending_ = job_->stopping() ? QStringLiteral("停止しました。")
                  : waiting > 0    ? QStringLiteral("携帯電話機がすべて抜けたため、%1 巡が残りました。").arg(formatCount(waiting))
                                   : QStringLiteral("ジョブの巡をすべて実行しました。");
        ending_ += QStringLiteral("成功 %1、失敗 %2、やり直して成功 %3")
                       .arg(formatCount(tally.ok), formatCount(tally.failed), formatCount(tally.okAfterRetry));
        if (tally.cut > 0)
            ending_ += QStringLiteral("、途中で終わった巡 %1").arg(formatCount(tally.cut));
        ending_ += QStringLiteral("。");
        for (int row = 0; row < tblHandsets->rowCount(); ++row)
            showRow(row);
        showProgress();
    });
    clock_.start();
    tick_.start();
    showProgress();
}

void frmHandsets::showRow(int row)
{
    if (!job_ || row < 0 || row >= tblHandsets->rowCount())
        return;
    const HandsetState s = job_->states().value(row);
    const auto set = [&](int column, const QString &text) {
        QTableWidgetItem *item = tblHandsets->item(row, column);
        item->setText(text);
        item->setToolTip(text);
    };
    const bool doing = s.running && s.counter;
    set(ColCounter, doing ? QString::number(*s.counter) : QString());
    set(ColStatement, doing ? s.statement : QString());
    set(ColDone, QString::number(s.ended.size()));
    set(ColFailed, QString::number(s.failed.size()));
    if (!s.left.isEmpty())
        set(ColState, QStringLiteral("抜けました: %1").arg(s.left));
    else if (doing)
        set(ColState, QStringLiteral("実行中"));
    else if (s.running)
        set(ColState, QStringLiteral("待機中"));
    else
        set(ColState, QStringLiteral("終了"));
}

void frmHandsets::showProgress()
{
    if (!job_)
        return;
    const QString progress =
        progressText(job_->progress(), clock_.elapsed(), double(QDateTime::currentMSecsSinceEpoch()));
    lblProgress->setText(ending_.isEmpty() ? progress : progress + u'\n' + ending_);
}

void frmHandsets::say(int row, const QString &text)
{
    const QString name = job_ ? job_->name(row) : QString();
    txtLog->appendPlainText(QStringLiteral("[%1] %2").arg(name, joinedLines(text)));
}

frmScreen *frmHandsets::openScreen(int row)
{
    if (!job_ || row < 0 || row >= screens_.size())
        return nullptr;
    const HandsetEntry &entry = job_->run().handsets[row];
    if (entry.screen.isEmpty()) {
        desktop_.showMessage(this, QStringLiteral("携帯電話機「%1」には画面がありません（携帯電話機の一覧「%2」の [%1] に screen= が"
                                                  "ありません）。")
                                       .arg(entry.name, listPath_));
        return nullptr;
    }
    std::shared_ptr<Screen> &screen = screens_[row];
    if (!screen || !screen->window) {
        screen = std::make_shared<Screen>();
        screen->screen = std::make_unique<LazyScreen>();
        frmScreen *window = new frmScreen(desktop_, *screen->screen, keypad_);
        window->setHandsetName(entry.name);
        screen->window = window;
        auto *opening = new SourceOpening(*screen->screen, window);
        connect(opening, &SourceOpening::openEnded, window, [window](bool opened, const QString &error) {
            if (!opened && !error.isEmpty())
                window->showSourceProblem(error);
        });
        opening->openSource(entry.screen);
    }
    screen->window->showBeside(this, QRect());
    return screen->window;
}
