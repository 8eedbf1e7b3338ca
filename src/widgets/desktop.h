#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// What the windows ask of the desktop: the open-file dialog, a message, the
// user guide and the end of the program. The program chooses one in main;
// tests put in their own, so that no dialog opens and no process ends.
class Desktop {
public:
    virtual ~Desktop() = default;

    // The modal open-file dialog ("すべて(*.*)", every file), starting at
    // `fileName`: the chosen full path, or an empty text when cancelled.
    virtual QString chooseFile(QWidget *parent, const QString &fileName) = 0;
    // The modal save-file dialog, the same filter, starting at `fileName`;
    // it asks before an existing file is replaced. The chosen full path, or
    // an empty text when cancelled.
    virtual QString chooseNewFile(QWidget *parent, const QString &fileName) = 0;
    // The modal save-file dialog for a picture ("PNG 画像 (*.png)"), starting
    // at `fileName`; a name without a suffix gets ".png". The chosen full
    // path, or an empty text when cancelled.
    virtual QString chooseNewPicture(QWidget *parent, const QString &fileName) = 0;
    // A modal message with an OK button; returns once the user has read it.
    virtual void showMessage(QWidget *parent, const QString &text) = 0;
    // A run's failure message that left the frame `evidence`: as
    // showMessage, with 「証拠のフレームを開く」 and 「フォルダを開く」 beside
    // OK (openPath). Without its own, the plain message.
    virtual void showEvidenceMessage(QWidget *parent, const QString &text, const QString &evidence)
    {
        (void)evidence;
        showMessage(parent, text);
    }
    // Opens the file or folder `path` as the desktop does (a picture in the
    // picture viewer, a folder in the file manager); says so when nothing
    // can.
    virtual void openPath(QWidget *parent, const QString &path) = 0;
    // A modal one-line text for the user to confirm or edit, captioned
    // `caption`, with `label` above it. The text as the user left it, or no
    // value when cancelled.
    virtual std::optional<QString> editText(QWidget *parent, const QString &caption, const QString &label,
                                            const QString &text) = 0;
    // Shows the user guide `path`; says so when nothing can.
    virtual void openGuide(QWidget *parent, const QString &path) = 0;
    // Ends the program at once: no window closes, no handler runs.
    virtual void endProgram() = 0;
    // Asks for the screen's source: one of `choices` (the cameras) or any
    // text (a URL, a file), starting at `current`. The answer, or no value
    // when cancelled.
    virtual std::optional<QString> chooseScreenSource(QWidget *parent, const QStringList &choices,
                                                      const QString &current) = 0;

    // What a message or text dialog asks about, on the screen (the screen
    // window's selection): the dialog goes beside it, not over it. Empty:
    // over its parent, as usual. KeepClear sets it for its own life.
    QRect keepClear() const { return keepClear_; }
    class KeepClear {
    public:
        KeepClear(Desktop &desktop, const QRect &area) : desktop_(desktop) { desktop_.keepClear_ = area; }
        ~KeepClear() { desktop_.keepClear_ = QRect(); }
        KeepClear(const KeepClear &) = delete;
        KeepClear &operator=(const KeepClear &) = delete;

    private:
        Desktop &desktop_;
    };

private:
    QRect keepClear_;
};

// The desktop of a screen: Qt's file dialog, message boxes captioned
// "QuillonEmu" (wide enough to show it whole), the guide shown by the
// desktop's opener, the screen source's dialog (the cameras found, or that
// none was; 参照... for a picture or video file).
class ScreenDesktop : public Desktop {
public:
    ScreenDesktop();

    QString chooseFile(QWidget *parent, const QString &fileName) override;
    QString chooseNewFile(QWidget *parent, const QString &fileName) override;
    QString chooseNewPicture(QWidget *parent, const QString &fileName) override;
    void showMessage(QWidget *parent, const QString &text) override;
    void showEvidenceMessage(QWidget *parent, const QString &text, const QString &evidence) override;
    void openPath(QWidget *parent, const QString &path) override;
    std::optional<QString> editText(QWidget *parent, const QString &caption, const QString &label,
                                    const QString &text) override;
    void openGuide(QWidget *parent, const QString &path) override;
    void endProgram() override;
    std::optional<QString> chooseScreenSource(QWidget *parent, const QStringList &choices,
                                              const QString &current) override;

    // Where the guide's page and pictures are unpacked for the browser: the
    // user's cache folder.
    QString guidePageDir;
};
