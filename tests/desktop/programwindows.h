#pragma once

#include "app/frmscreen.h"
#include "keypad/keypadwindows.h"
#include "support/mainwindow.h"
#include "xsession.h"

#include <QtTest>

// The main window as the program shows it under the test's window manager,
// with messages recorded and the process kept alive.
struct ProgramWindows : MainWindow {
    ProgramWindows()
    {
        w.InitSettings(QString());
        w.show();
    }
    frmKeyboard *keyboard() { return w.keypad().keyboard(); }
    frmInput *input() { return w.keypad().input(); }
    frmScreen *screen() { return w.screenWindow(); }
    // The stream as the screen's source, chosen through 表示 →
    // 画面の取り込み元(&S)...
    // True once it has opened (it opens in the background).
    bool watch(const QString &url)
    {
        desktop.screenSourceAnswers = {url};
        w.mnuScreenSource->trigger();
        return QTest::qWaitFor([this, url] { return w.screenSession().sourceName() == url; }, 20'000);
    }
    // The screen window, shown through 表示 → 画面(&G), with a frame, where
    // it stays (grown to the frame's size).
    frmScreen *showScreen()
    {
        w.mnuScreen->trigger();
        frmScreen *s = screen();
        if (!QTest::qWaitFor(
                [&] {
                    // (And the X server has it where the window thinks it is.)
                    return xtool::managed(s) && !s->picture->frame().isNull() && s->settled() &&
                           xtool::frameTopLeft(s->winId()) == s->frameGeometry().topLeft();
                },
                20'000))
            return nullptr;
        return s;
    }
};
