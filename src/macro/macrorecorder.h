#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Records what a keypad sent, keys and typed texts with the times they were
// sent, and writes it as a macro file that replays the session: Shift-JIS
// with CR LF line ends, a BASEWAIT line first, one line per key, STRING for
// a text, and SLEEP wherever the user paused longer than the base wait.
//
// Times are milliseconds on any one clock. Each item has the time its send
// began and the time the keypad had handed it to the line (later than the
// start when the send waited for the line's room, as a long text does). A
// replay spends that same time on the statement again, so the pause before
// the next item is counted from there.
//
// A replay starts an item once the statement before it has been handed over
// and the base wait has passed; a SLEEP line adds its seconds and a base wait
// of its own. So a pause becomes SLEEP (pause - 2 x base wait), to a tenth of
// a second, or nothing where that comes closer. The lines follow the replay's
// own clock: every item starts when it started in the session, to within
// half a tenth where the pause allows a SLEEP, and what one rounding or a
// too-short pause put off is made up by the next SLEEP, so it does not add
// up over a long session.
class MacroRecorder {
public:
    static constexpr int kDefaultBaseWaitMs = 200;

    explicit MacroRecorder(int baseWaitMs = kDefaultBaseWaitMs);

    // A key, named as the key table spells it ("UP", "OFFOOK", "&OFFHOOK");
    // a name the table lacks is not recorded.
    void addKey(const QString &name, double sentMs, double doneMs);
    // A typed text, as STRING can write it (see stringText); nothing when
    // that leaves no character.
    void addText(const QString &text, double sentMs, double doneMs);

    // A checkpoint (a WAITIMAGE, WAITGONE or WAITTEXT line) put in at
    // `atMs`. The replay's clock counts it as taking no time: it follows the
    // item recorded before it, ahead of the pause that comes after that
    // item, and the pauses stay as they were.
    void addCheckpoint(const QString &line, double atMs);
    // The screen source the checkpoints from now on look at (as a SCREEN
    // line takes it), and where its display lies (a DISPLAY line's text;
    // empty: not set): the first becomes a SCREEN line after BASEWAIT, with
    // its DISPLAY line, so that the source is open before the first key;
    // another source or display later is a SCREEN or DISPLAY line at `atMs`,
    // taking no time either.
    void lookAt(const QString &source, double atMs, const QString &display = QString());
    // Takes back the last checkpoint (WAITIMAGE, WAITGONE, WAITTEXT) put
    // in: its line, or an empty text when there is none.
    QString removeLastCheckpoint();
    // The pictures the checkpoints wait for, as their lines name them.
    QStringList checkpointPictures() const;

    // Keys, texts and checkpoints recorded.
    qsizetype size() const { return items_.size(); }
    int baseWaitMs() const { return baseWaitMs_; }

    // The macro's lines, BASEWAIT first.
    QStringList lines() const;
    // The file: the lines in Shift-JIS, each ending in CR LF.
    QByteArray fileBytes() const;

    // Writes the file whole or not at all (a temporary file beside it, then
    // renamed). False with a message naming the file in `error`.
    bool write(const QString &path, QString *error) const;
    // Whether a file can be written at `path` (a temporary one is made there
    // and removed); false with a message naming it in `error`.
    static bool canWrite(const QString &path, QString *error);

    // The text a STRING line holds to type `text`: without half-width spaces
    // (a STRING word ends at one, and a space types nothing anyway) and the
    // other characters STRING cannot type. It sends the same packets.
    static QString stringText(const QString &text);

private:
    struct Item {
        QString line;
        double sentMs;
        double doneMs;
        bool checkpoint = false;
    };

    int baseWaitMs_;
    QList<Item> items_;
    QString firstSource_;
    QString firstDisplay_;
    QString source_;
    QString display_;
};
