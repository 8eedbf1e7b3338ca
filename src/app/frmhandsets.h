#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

class Desktop;
class HandsetsJob;
class KeypadWindows;
class LazyScreen;
class QLabel;
class QPlainTextEdit;
class QTableWidget;
class frmScreen;

// The handsets window 「携帯電話機の一覧」: a job on the handsets of a
// handsets file (/H, 「携帯電話機の一覧を開く(&H)...」) as it goes. Above,
// the whole job's progress (passes done of all, passes an hour, the end
// expected); a row a handset (its name, port, screen, counter, statement,
// passes done and failed, and its state: 待機中, 実行中, or why it left);
// below, what the handsets' runs said. A double-click on a row opens the
// screen window on that handset's screen, its source as the file gives it.
// It owns no port and takes no part in the job: closing it only hides it.
class frmHandsets : public QWidget {
    Q_OBJECT
public:
    enum Column { ColName, ColPort, ColScreen, ColCounter, ColStatement, ColDone, ColFailed, ColState, ColumnCount };

    frmHandsets(Desktop &desktop, KeypadWindows &keypad);
    ~frmHandsets() override;

    // Shows `job` (its handsets read from `listPath`) from now on, in place
    // of the job shown before; the screen windows of that one go.
    void watch(HandsetsJob &job, const QString &listPath);
    // The screen window of handset `row`: opened (or shown again) on its
    // source; null, and a message, when the file gives it none.
    frmScreen *openScreen(int row);

    QLabel *lblProgress;
    QTableWidget *tblHandsets;
    QPlainTextEdit *txtLog;

private:
    void showRow(int row);
    void showProgress();
    void say(int row, const QString &text);
    void closeScreens();

    Desktop &desktop_;
    KeypadWindows &keypad_;
    QPointer<HandsetsJob> job_;
    QString listPath_;
    QElapsedTimer clock_;
    QTimer tick_;
    QString ending_; // how the job ended, once it has
    // A handset's screen, opened by a double-click on its row.
    struct Screen {
        std::unique_ptr<LazyScreen> screen;
        QPointer<frmScreen> window;
    };
    QList<std::shared_ptr<Screen>> screens_;
};
