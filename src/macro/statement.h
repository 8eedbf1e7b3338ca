#pragma once

#include "link/keypacket.h"
#include "macro/displayarea.h"

#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

// One line of a macro file as a statement, parsed and typed once: the run
// executes it and the checker looks it over from the same values. The line
// is split into words at every single space (two spaces give an empty word, a
// leading space an empty word 0; tabs belong to the words). Word 0,
// upper-cased from a-z to A-Z, is the keyword; word 1, exactly as written,
// is the argument. Later words are remarks, except for the screen's
// statements: the picture waits take the seconds in word 2 and the
// similarity in word 3, WAITTEXT the seconds in word 2 and a region in
// word 3, READTEXT a region in word 2.
struct Statement {
    enum class Kind {
        None, Key, BaseWait, PortNo, Sleep, Repeat, GetStr, SendStr, String, Exit,
        // The screen: SCREEN SOURCE, WAITIMAGE FILE SECONDS [LEVEL],
        // WAITGONE FILE SECONDS [LEVEL], SNAPSHOT FILE, WAITTEXT TEXT
        // SECONDS [REGION], READTEXT FILE [REGION].
        Screen, WaitImage, WaitGone, Snapshot, WaitText, ReadText,
        // ONFAIL FILE [RETRY N]: the macro that brings the handset back to
        // where a pass starts when a screen wait of a pass runs out.
        OnFail,
        // DISPLAY AREA: where the display lies in the frames from this line
        // on (the rest of the line: AUTO [WxH], WHOLE or four corners
        // [WxH]; see DisplayArea).
        Display,
    };

    // Why a BASEWAIT, SLEEP or PORTNO cannot run.
    enum class Problem {
        None,
        Missing,     // the line has no word 1
        Empty,       // word 1 is empty (two spaces after the keyword)
        NotSeconds,  // BASEWAIT, SLEEP: word 1 is no number of seconds
        NotAPortNumber, // PORTNO: word 1 is no whole number
        NoSeconds,   // WAITIMAGE, WAITGONE: word 2 is missing, empty, or no number of seconds at least 0
        NotALevel,   // WAITIMAGE, WAITGONE: word 3 is no number from 0 to 1
        NotARegion,  // WAITTEXT (word 3), READTEXT (word 2): not x,y,w,h in whole numbers
        NotARetry,   // ONFAIL: RETRY in word 2 without a whole number from 1 in word 3
        NotADisplay, // DISPLAY: the rest of the line is no display area (displayProblem says why)
    };

    Kind kind = Kind::None;
    QString keyword;
    // Word 1 when the line has one (possibly empty, after two spaces).
    std::optional<QString> argument;
    // Kind::Key: the packet.
    KeyPacket packet;
    // BASEWAIT, SLEEP: the seconds (any sign; see parseSeconds).
    float seconds = 0;
    // PORTNO: the port number.
    qint32 port = 0;
    // STRING: the text it types (empty when the line has no word 1).
    // SCREEN: the source; WAITIMAGE, WAITGONE, SNAPSHOT, READTEXT, ONFAIL:
    // the file as written; WAITTEXT: the text it waits for.
    QString text;
    // WAITTEXT, READTEXT: the part of the frame read (frame pixels); empty:
    // the whole frame.
    QRect region;
    // DISPLAY: the area, or why the line is none.
    DisplayArea display;
    QString displayProblem;
    // ONFAIL: how often a pass that failed runs again (RETRY N).
    int retries = 0;
    // WAITIMAGE, WAITGONE: the least similarity that counts as seen.
    double level = kDefaultLevel;

    // The similarity a picture must reach to count as seen when a wait
    // names none. Measured on the model screen through camera-like frames
    // (bench/run): the right text 0.95, the nearest wrong one (the text
    // short of its last character) 0.79; the level sits between the two.
    static constexpr double kDefaultLevel = 0.87;
    Problem problem = Problem::None;

    bool isValid() const { return problem == Problem::None; }
    bool isScreenWait() const { return kind == Kind::WaitImage || kind == Kind::WaitGone; }
    // The statements that send packets: ONFAIL stands before the first.
    bool sendsKeys() const { return kind == Kind::Key || kind == Kind::String || kind == Kind::SendStr; }
    // The statements that read the screen's text.
    bool readsText() const { return kind == Kind::WaitText || kind == Kind::ReadText; }
};

// The words of `line`, split at every single space.
QStringList splitWords(const QString &line);

// `word` with a-z turned into A-Z and everything else unchanged.
QString upperCaseKeyword(const QString &word);

Statement parseStatement(const QString &line);

// A similarity as the screen waits take it: a number from 0 to 1.
std::optional<double> parseLevel(const QString &text);

// A region of a frame as WAITTEXT and READTEXT take it, "x,y,w,h": plain
// whole numbers (frame pixels), the width and height above 0.
std::optional<QRect> parseRegion(const QString &text);
// A region as a statement writes it: "x,y,w,h".
QString regionText(const QRect &region);

// The control keywords, "BASEWAIT" ... "EXIT", then the screen's.
QStringList controlKeywords();
