#pragma once

#include "support/testshare.h"
#include "widgets/appearance.h"

#include <QApplication>
#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <sys/types.h>

class QWidget;

// A desktop of its own for a test program: an X server (Xvfb) on a free
// display and a window manager (openbox) on it, started before the
// QApplication and stopped at the end. Both die with the test program, also
// when it is killed.
class XSession {
public:
    XSession() = default;
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    // Starts the server, points DISPLAY at it and selects Qt's xcb platform.
    // False, with the reason in error(), when the server does not come up
    // within 20 s.
    bool startServer();
    // Starts the window manager and waits (up to 20 s) until it manages the
    // screen.
    bool startWindowManager();
    QString error() const { return error_; }

private:
    QTemporaryDir readyFile_;
    pid_t server_ = -1;
    pid_t windowManager_ = -1;
    QString error_;
};

// The X tools, run with a deadline; an empty result when one fails.
namespace xtool {

// Runs `program` with `arguments` and returns its standard output; false in
// `ok` when it could not run, failed, or took longer than `timeoutMs`.
QByteArray run(const QString &program, const QStringList &arguments, bool *ok = nullptr, int timeoutMs = 10'000);
// xprop's value of `property` on window `id` ("" when the window lacks it).
QString property(quint64 id, const QString &property);
// The atom names a property lists (_NET_WM_STATE, _NET_WM_WINDOW_TYPE, ...).
QStringList atoms(quint64 id, const QString &property);
// The top-left corner of a window's client area on the screen, as the X
// server has it (where it delivers the mouse).
QPoint clientTopLeft(quint64 id);
// The outer top-left corner of a managed window as the window manager placed
// it: the client's position on the screen less _NET_FRAME_EXTENTS.
QPoint frameTopLeft(quint64 id);
// WM_NORMAL_HINTS' "minimum" or "maximum" size (invalid when missing).
QSize sizeHint(quint64 id, const QString &which);
// The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING).
QList<quint64> stackingOrder();
// Presses keys on whatever has the keyboard focus ("alt+f", "Return").
bool key(const QString &keys);
// Types a text on whatever has the keyboard focus.
bool type(const QString &text);
// Moves the pointer to `global` and clicks a button (1 left, 3 right).
bool click(QPoint global, int button = 1);
// Moves the pointer to `global` and double-clicks the left button.
bool doubleClick(QPoint global);
// Drags with the left button from `from` to `to`, through `through` (all
// global), as a hand does: press, moves, release.
bool drag(QPoint from, const QList<QPoint> &through, QPoint to);
// What window `id` shows on the screen now, read back from the X server
// (xwd): the client area, without the window manager's frame. Null when it
// cannot be read.
QImage screenshot(quint64 id);

// True once `window` is on the screen inside the window manager's frame.
bool managed(QWidget *window);
// Makes `window` the active one, as a click on its title would.
bool activate(QWidget *window);

} // namespace xtool

// The main of a desktop test: the program's own start (Japanese whatever
// the locale), a private X server, the application, the window manager,
// then the test class `Test`'s slots.
template <typename Test>
int runDesktopTest(int argc, char **argv)
{
    useJapaneseSystemLocale();
    XSession session;
    if (!session.startServer()) {
        qCritical("%s", qPrintable(session.error()));
        return 1;
    }
    QApplication app(argc, argv);
    installToolkitTranslations();
    if (!session.startWindowManager()) {
        qCritical("%s", qPrintable(session.error()));
        return 1;
    }
    Test test;
    return execTestShare(&test, argc, argv);
}
