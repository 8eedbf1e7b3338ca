// The run's screen statements: SCREEN opens a picture source, WAITIMAGE and
// WAITGONE wait for a template to appear in its frames or to go, WAITTEXT
// for a text, READTEXT keeps the text and SNAPSHOT the picture of a frame.
// Every one of them looks only at frames that came after the keys before it
// crossed the line. The templates of the whole macro are read when the run
// starts, before the first packet.

#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "macro/runhost.h"
#include "macro/characters.h"
#include "macro/runmessages.h"
#include "platform/textlinereader.h"
#include "platform/waiter.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

// How often a screen wait looks at its watch when nothing wakes it: the
// watch wakes the wait when the picture is seen; this bounds how late an
// ended source or a stall is noticed.
constexpr double kScreenLookMs = 100.0;
// How long READTEXT and SNAPSHOT wait for a frame to come.
constexpr double kFrameSeconds = 10.0;

QString noScreen(const Statement &st)
{
    return QStringLiteral("%1: 画面の取り込み元がありません。--screen、/S か、この行より前の SCREEN で指定してください。")
        .arg(st.keyword);
}

QString noScreenHere(const Statement &st)
{
    return QStringLiteral("%1: この実行では画面を見られません。").arg(st.keyword);
}

QString clockTime(const QDateTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz"));
}

// The frames a wait saw, and when the last one came.
QString framesSeen(const RunScreen::WaitState &state)
{
    QString text = QStringLiteral("フレーム %1 枚").arg(state.framesSeen);
    if (state.framesUndecodable > 0)
        text += QStringLiteral("、読めなかったもの %1 枚").arg(state.framesUndecodable);
    if (state.lastFrameTime.isValid()) {
        const double ago = state.lastFrameTime.msecsTo(QDateTime::currentDateTime()) / 1000.0;
        text += QStringLiteral("、最後のフレームは %1（%2 秒前）").arg(clockTime(state.lastFrameTime), QString::number(ago, 'f', 1));
    } else {
        text += QStringLiteral("、フレームは 1 枚も来ていません");
    }
    return text;
}

// The part of the template that matched least where it came closest, in
// the template's own pixels (as the user cut it), for a message.
QString weakestPart(const RunScreen::WaitState &state)
{
    if (state.bestWeakestPart.isEmpty() || state.bestSize.isEmpty())
        return QString();
    const QRect part = state.bestWeakestPart.translated(-state.bestPlace);
    return QStringLiteral("。合わなかったのは画像の範囲 %1（左から %2〜%3 ピクセル）で、類似度はこの部分のものです")
        .arg(regionText(part))
        .arg(std::max(0, part.left()))
        .arg(std::min(state.bestSize.width(), part.right() + 1));
}

QString bestSeen(const RunScreen::WaitState &state)
{
    if (state.bestSimilarity < 0)
        return QStringLiteral("照合できたフレームはありません");
    return QStringLiteral("最も近かったのは位置 %2, %3 の類似度 %1 です%4")
        .arg(QString::number(state.bestSimilarity, 'f', 3))
        .arg(state.bestPlace.x())
        .arg(state.bestPlace.y())
        .arg(weakestPart(state));
}

// Where a picture that did not go was seen last.
QString stillSeen(const RunScreen::WaitState &state, double level)
{
    if (state.lastSimilarity < 0)
        return QStringLiteral("照合できたフレームはありません");
    return (state.lastSimilarity >= level ? QStringLiteral("最後のフレームでも位置 %2, %3 に類似度 %1 で見えていました")
                                          : QStringLiteral("最後のフレームでは位置 %2, %3 の類似度 %1 でした"))
        .arg(QString::number(state.lastSimilarity, 'f', 3))
        .arg(state.lastPlace.x())
        .arg(state.lastPlace.y());
}

// What the last reading found, quoted and shortened for a message.
QString quotedReading(const RunScreen::WaitState &state)
{
    if (state.readings == 0)
        return QStringLiteral("なし（読めたフレームはありません）");
    QString text = state.lastRead.simplified();
    if (text.isEmpty())
        return QStringLiteral("「」（文字は読めませんでした）");
    constexpr qsizetype kLongest = 60;
    if (text.size() > kLongest)
        text = text.left(kLongest) + QStringLiteral("…");
    return QStringLiteral("「%1」").arg(visibleText(text));
}

QString framesRead(const RunScreen::WaitState &state)
{
    return QStringLiteral("読んだフレーム %1 枚、%2").arg(state.readings).arg(framesSeen(state));
}

// That the text read was small, when it was: glyphs this low (pixels of the
// picture read) are often misread. Through a camera's lens one needs some
// 14 of the camera's pixels: on a camera's frames of handsets' screens in
// four outline fonts, texts in glyphs lower than that were found within a
// wait 18 times of 52, higher 281 of 332; in an 8-dot font, whose dots
// need 2 of the camera's pixels (a kanji of 7 dots, 14 pixels), 1 of 45
// below that and 39 of 51 above.
constexpr int kSmallGlyphs = 12;
constexpr int kSmallGlyphsInFrame = 14;

QString smallText(const RunScreen::WaitState &state)
{
    const int smallest = state.glyphPixelsInFrame ? kSmallGlyphsInFrame : kSmallGlyphs;
    if (state.glyphPixels <= 0 || state.glyphPixels >= smallest)
        return QString();
    return (state.glyphPixelsInFrame ? QStringLiteral("カメラの映像では画面の文字は高さ約 %1 ピクセルと小さく、読み違えている可能性があります"
                                                      "（カメラを近づけるか、画面を大きく映してください）。")
                                     : QStringLiteral("画面の文字は高さ約 %1 ピクセルと小さく、読み違えている可能性があります"
                                                      "（カメラで映しているときは、近づけるか大きく映してください）。"))
        .arg(state.glyphPixels);
}

// The part of a region that was read, when only part of it lies inside the
// frame.
QString partlyRead(const QRect &region, const RunScreen::WaitState &state)
{
    if (state.regionRead.isEmpty())
        return QString();
    return QStringLiteral("範囲 %1 の一部はフレームの外にあり、読んだのは %2 です。")
        .arg(regionText(region), regionText(state.regionRead));
}

bool isFileSource(const QString &source)
{
    return !source.contains(QLatin1String("://")) && !source.startsWith(QLatin1String("camera"), Qt::CaseInsensitive);
}

} // namespace

QString MacroRunner::besideMacro(const QString &name) const
{
    if (QDir::isAbsolutePath(name))
        return name;
    return QFileInfo(macroPath_.isEmpty() ? settings_.MacroFile : macroPath_).dir().filePath(name);
}

bool MacroRunner::readTemplates(const QString &path, bool sourceSet)
{
    // Only a macro that names the screen is read twice: the run starts as
    // before for every other one.
    TextLineReader file;
    if (!file.open(path))
        return true; // the pass says why
    RunScreen *screen = host_.screen();
    sourceSet = sourceSet || (screen && screen->hasSource());
    bool readerReady = false;
    bool prepared = false;
    while (const std::optional<QString> line = file.readLine()) {
        const Statement st = parseStatement(*line);
        auto failHere = [&](const QString &reason) {
            failure_ = {path, file.linesRead(), st.keyword, reason};
            outcome_ = Outcome::Failed;
            return false;
        };
        if (st.kind == Statement::Kind::Screen) {
            sourceSet = true;
            // Made ready now: a stop during SCREEN then waits for nothing.
            QString error;
            if (screen && !prepared && !screen->prepare(&error))
                return failHere(QStringLiteral("%1: %2").arg(st.keyword, error));
            prepared = true;
        }
        if (!st.isScreenWait() && !st.readsText())
            continue;
        if (!st.isValid())
            return failHere(RunMessages::argumentProblem(st));
        if (!screen)
            return failHere(noScreenHere(st));
        if (!sourceSet)
            return failHere(noScreen(st));
        if (st.readsText()) {
            QString reason;
            if (!readerReady && !screen->prepareTextReading(&reason))
                return failHere(QStringLiteral("%1: %2").arg(st.keyword, reason));
            readerReady = true;
            continue;
        }
        const QString picture = QFileInfo(path).dir().filePath(st.text);
        QString reason;
        if (!screen->loadTemplate(QDir::isAbsolutePath(st.text) ? st.text : picture, &reason))
            return failHere(QStringLiteral("%1: 画像ファイル「%2」を照合に使えません: %3。").arg(st.keyword, st.text, reason));
    }
    return true;
}

MacroRunner::Flow MacroRunner::screenStatement(const Statement &st)
{
    if (!st.isValid())
        return failAt(st, RunMessages::argumentProblem(st));
    RunScreen *screen = host_.screen();
    if (!screen)
        return failAt(st, noScreenHere(st));
    switch (st.kind) {
    case Statement::Kind::Screen:
        return openScreen(st, *screen);
    case Statement::Kind::Snapshot:
        return snapshot(st, *screen);
    case Statement::Kind::Display:
        // From here on, for this source and the ones opened later.
        screen->setDisplay(st.display);
        return Flow::Next;
    case Statement::Kind::WaitText:
    case Statement::Kind::ReadText:
        return readScreenText(st, *screen);
    default:
        return waitForPicture(st, *screen);
    }
}

MacroRunner::Flow MacroRunner::openScreen(const Statement &st, RunScreen &screen)
{
    // A source that does not answer can take seconds to open: it opens off
    // the run's thread, and a stop meanwhile is a stop, as during SLEEP.
    screen.setWakeUp([this] { waiter_.wake(); });
    screen.startOpen(isFileSource(st.text) ? besideMacro(st.text) : st.text);
    RunScreen::OpenState state = screen.openState();
    while (!state.done && settings_.MacroExe && linkFailure_.isEmpty()) {
        waiter_.sleepUntil(waiter_.elapsedMs() + kScreenLookMs);
        state = screen.openState();
    }
    screen.setWakeUp({});
    // A stop wins over an opening that ended at the same moment (the stop
    // may even be why it ended): what it opened is dropped, and a failure
    // is not the run's.
    if (!settings_.MacroExe || !linkFailure_.isEmpty()) {
        if (!state.done)
            screen.abandonOpen();
        return Flow::Next;
    }
    if (!state.opened)
        return failAt(st, state.error);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::snapshot(const Statement &st, RunScreen &screen)
{
    if (!screen.hasSource())
        return failAt(st, noScreen(st));
    // The picture of the screen once it has the keys sent before.
    waitForTheLine();
    const double start = waiter_.elapsedMs();
    screen.startFrameWait();
    QString failureText;
    const RunScreen::WaitState state = watchScreen(st, screen, start + kFrameSeconds * 1000.0, &failureText);
    screen.endWait();
    if (!settings_.MacroExe || !linkFailure_.isEmpty())
        return Flow::Next;
    if (!failureText.isEmpty())
        return failAt(st, failureText);
    if (!state.done) {
        return failAt(st, QStringLiteral("SNAPSHOT: %1 秒のうちに新しいフレームが来ませんでした（%2）。")
                              .arg(QString::number((waiter_.elapsedMs() - start) / 1000.0, 'f', 1), framesSeen(state)));
    }
    QString error;
    if (!screen.saveNewest(besideMacro(passFileName(st.text)), &error))
        return failAt(st, QStringLiteral("SNAPSHOT: %1").arg(error));
    return Flow::Next;
}

RunScreen::WaitState MacroRunner::watchScreen(const Statement &st, RunScreen &screen, double deadline,
                                              QString *failureText)
{
    for (;;) {
        const RunScreen::WaitState state = screen.waitState();
        if (state.done || !settings_.MacroExe || !linkFailure_.isEmpty())
            return state;
        if (state.tooLarge) {
            *failureText = QStringLiteral("%1: 画像「%2」がフレーム（%3×%4）より大きいため、照合できません。")
                               .arg(st.keyword, st.text, QString::number(state.frameSize.width()),
                                    QString::number(state.frameSize.height()));
            return state;
        }
        if (!state.readError.isEmpty()) {
            *failureText = QStringLiteral("%1: %2").arg(st.keyword, state.readError);
            return state;
        }
        if (state.sourceEnded) {
            *failureText = QStringLiteral("%1: 画面の取り込み元「%2」: %3（%4）。")
                               .arg(st.keyword, screen.sourceName(), state.endReason, framesSeen(state));
            return state;
        }
        const double now = waiter_.elapsedMs();
        if (now >= deadline)
            return state;
        waiter_.sleepUntil(std::min(deadline, now + kScreenLookMs));
    }
}

void MacroRunner::waitForTheLine()
{
    // The handset cannot show what it has not received: a wait counts from
    // when every packet handed over before it has crossed the line.
    const SerialPort &port = link_.port();
    const double lineDone = std::max(port.lineDoneMs(), waiter_.elapsedMs() + LineTiming::lineMs(port.pendingBytes()));
    while (waiter_.elapsedMs() < lineDone && settings_.MacroExe && linkFailure_.isEmpty())
        waiter_.sleepUntil(lineDone);
}

QString MacroRunner::saveEvidence(RunScreen &screen, const QString &name, QString *savedPath, const QRect &box,
                                  const QRect &part)
{
    // The newest frame, beside the log or in the temporary folder.
    const QString folder = screen.evidenceFolder().isEmpty() ? QDir::tempPath() : screen.evidenceFolder();
    const QString evidence = QDir(folder).filePath(
        QStringLiteral("quillonemu-%1-%2-%3.png")
            .arg(name, handsetName_.isEmpty() ? QString::number(counter_) : handsetName_ + u'-' + QString::number(counter_),
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))));
    QString error;
    if (!screen.saveMarked(evidence, box, part, &error))
        return QStringLiteral("最後のフレームは保存できませんでした（%1）。").arg(error);
    *savedPath = evidence;
    if (!part.isEmpty())
        return QStringLiteral("最後のフレームを「%1」に保存しました（最も近かった位置を黄、合わなかった部分を赤の枠で示しています）。")
            .arg(evidence);
    return QStringLiteral("最後のフレームを「%1」に保存しました。").arg(evidence);
}

MacroRunner::Flow MacroRunner::waitForPicture(const Statement &st, RunScreen &screen)
{
    if (!screen.hasSource())
        return failAt(st, noScreen(st));
    const QString path = besideMacro(st.text);
    QString reason;
    if (!screen.loadTemplate(path, &reason))
        return failAt(st, QStringLiteral("%1: 画像ファイル「%2」を照合に使えません: %3。").arg(st.keyword, st.text, reason));
    const bool gone = st.kind == Statement::Kind::WaitGone;

    waitForTheLine();

    ScreenWaitReport report;
    report.line = macro_.linesRead();
    report.keyword = st.keyword;
    report.templatePath = path;
    report.level = st.level;
    report.seconds = st.seconds;
    Q_EMIT screenWaitStarted(report);
    const double start = waiter_.elapsedMs();
    const double deadline = start + std::max(0.0, double(st.seconds)) * 1000.0;
    screen.setWakeUp([this] { waiter_.wake(); });
    screen.startWait(path, st.level, gone);
    QString failureText;
    const RunScreen::WaitState state = watchScreen(st, screen, deadline, &failureText);
    screen.endWait();
    screen.setWakeUp({});

    report.found = state.done;
    report.similarity = state.bestSimilarity;
    report.place = state.bestPlace;
    if (state.bestSimilarity >= 0) {
        report.bestBox = QRect(state.bestPlace, state.bestSize);
        report.weakestPart = state.bestWeakestPart;
    }
    report.secondsWaited = (waiter_.elapsedMs() - start) / 1000.0;
    report.framesSeen = state.framesSeen;
    report.framesUndecodable = state.framesUndecodable;
    report.sourceReopened = state.sourceReopened;
    const bool ranOut = !state.done && failureText.isEmpty() && settings_.MacroExe && linkFailure_.isEmpty();
    if (ranOut || !failureText.isEmpty()) {
        QString evidence;
        // A picture that did not come: where it came closest, and the part
        // that did not match, drawn on the evidence.
        const QString saved = ranOut && !gone
                                  ? saveEvidence(screen, QFileInfo(st.text).completeBaseName(), &evidence, report.bestBox,
                                                 report.weakestPart)
                                  : saveEvidence(screen, QFileInfo(st.text).completeBaseName(), &evidence);
        if (ranOut) {
            // One sentence each: what did not happen, what was seen instead
            // (the closest place for a picture that did not come; for one
            // that did not go, where the last frame still showed it), and
            // the frames.
            failureText = QStringLiteral("%1: %2 秒待っても、画像「%3」が%4。%5。%6。")
                              .arg(st.keyword, QString::number(report.secondsWaited, 'f', 1), st.text,
                                   gone ? QStringLiteral("画面から消えませんでした") : QStringLiteral("画面に現れませんでした"),
                                   gone ? stillSeen(state, st.level) : bestSeen(state), framesSeen(state));
        } else {
            report.failure = failureText;
        }
        failureText += u'\n' + saved;
        report.evidence = evidence;
    }
    Q_EMIT screenWaitEnded(report);
    if (!failureText.isEmpty())
        return ranOut ? waitRanOut(st, failureText) : failAt(st, failureText);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::readScreenText(const Statement &st, RunScreen &screen)
{
    if (!screen.hasSource())
        return failAt(st, noScreen(st));
    const bool waiting = st.kind == Statement::Kind::WaitText;
    // Both read the screen once it has the keys sent before.
    waitForTheLine();

    // ({address} and {counter} in the text it waits for.)
    const QString wanted = waiting ? passText(st.text) : QString();
    ScreenWaitReport report;
    report.line = macro_.linesRead();
    report.keyword = st.keyword;
    report.wantedText = wanted;
    report.region = st.region;
    report.seconds = waiting ? st.seconds : kFrameSeconds;
    Q_EMIT screenWaitStarted(report);
    // READTEXT reads the first frame that comes once; it waits only for a
    // frame to come (and the reading to end).
    const double start = waiter_.elapsedMs();
    const double seconds = waiting ? std::max(0.0, double(st.seconds)) : kFrameSeconds;
    const double deadline = start + seconds * 1000.0;
    screen.setWakeUp([this] { waiter_.wake(); });
    screen.startTextWait(wanted, st.region, seconds);
    QString failureText;
    const RunScreen::WaitState state = watchScreen(st, screen, deadline, &failureText);
    // A reading in progress is cut; the time it took to end counts.
    screen.endWait();
    screen.setWakeUp({});
    const double waitedMs = waiter_.elapsedMs() - start;

    report.found = state.done;
    report.secondsWaited = waitedMs / 1000.0;
    report.framesSeen = state.framesSeen;
    report.framesUndecodable = state.framesUndecodable;
    report.sourceReopened = state.sourceReopened;
    report.readText = state.lastRead;
    report.readings = state.readings;
    report.regionRead = state.regionRead;
    const bool stopped = !settings_.MacroExe || !linkFailure_.isEmpty();
    const bool ranOut = !state.done && failureText.isEmpty() && !stopped;
    if (ranOut && waiting) {
        failureText = QStringLiteral("%1: %2 秒待っても、文字列「%3」が画面に現れませんでした（最後に読めた文字: %4。%5）。")
                          .arg(st.keyword, QString::number(report.secondsWaited, 'f', 1), wanted,
                               quotedReading(state), framesRead(state));
        if (const QString partly = partlyRead(st.region, state); !partly.isEmpty())
            failureText += partly;
        failureText += smallText(state);
    } else if (ranOut && state.framesSeen > 0) {
        // A frame came, but reading it took longer than a reading may.
        failureText = QStringLiteral("%1: %2 秒のうちにフレームの文字を読み終わりませんでした（%3）。")
                          .arg(st.keyword, QString::number(report.secondsWaited, 'f', 1), framesSeen(state));
    } else if (ranOut) {
        failureText = QStringLiteral("%1: %2 秒のうちに読めるフレームが来ませんでした（%3）。")
                          .arg(st.keyword, QString::number(report.secondsWaited, 'f', 1), framesSeen(state));
    }
    if (!ranOut)
        report.failure = failureText;
    if (!failureText.isEmpty() && waiting) {
        QString evidence;
        failureText += u'\n' + saveEvidence(screen, QStringLiteral("WAITTEXT"), &evidence);
        report.evidence = evidence;
    }
    if (failureText.isEmpty() && !stopped && !waiting) {
        const QString path = besideMacro(passFileName(st.text));
        QString error;
        if (!screen.saveText(path, state.lastRead, &error))
            failureText = QStringLiteral("READTEXT: %1").arg(error);
    }
    Q_EMIT screenWaitEnded(report);
    if (!failureText.isEmpty())
        return ranOut ? waitRanOut(st, failureText) : failAt(st, failureText);
    return Flow::Next;
}
