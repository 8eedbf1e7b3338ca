#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

class QLabel;
class QPushButton;
class RunScreen;

// The windows' opening of the screen's source (「画面の取り込み元(&S)...」,
// /S): a source that does not answer takes seconds to open, so it opens off
// the user-interface thread while this small window says 「接続中…」 with a
// 取消 button, and every window stays usable meanwhile.
class SourceOpening : public QDialog {
    Q_OBJECT
public:
    SourceOpening(RunScreen &screen, QWidget *parent);

    // Starts opening `source` in place of the source open now (which stays
    // until the new one has opened); an opening in progress is dropped.
    void openSource(const QString &source);
    bool isOpening() const { return poll_.isActive(); }
    // 取消: the opening is dropped (it ends on its own; the source open now
    // stays).
    void cancel();

    QLabel *lblConnecting;
    QPushButton *cmdCancel;

Q_SIGNALS:
    // The opening ended: opened, or not with `error` (empty when it was
    // cancelled).
    void openEnded(bool opened, const QString &error);

private:
    void look();
    void reject() override { cancel(); }

    RunScreen &screen_;
    QTimer poll_;
};
