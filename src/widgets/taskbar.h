#pragma once

class QWidget;

// Keeps the top-level `window` off the desktop's taskbar, every time it
// shows, while it stays a window of its own (no owner). On X11 it carries
// _NET_WM_STATE_SKIP_TASKBAR, set before the window is mapped; on other
// platforms nothing changes.
void keepOffTaskbar(QWidget *window);

// Asks the window manager to offer no minimise and no maximise for the
// fixed-size top-level `window`, every time it shows: on X11 through
// _MOTIF_WM_HINTS (move and close only; border, title and window menu).
// Window managers may draw the buttons all the same (openbox does), so
// whatever shows such a window again brings it back with bringBack().
void askForNoMinimize(QWidget *window);

// Shows `window` as the user expects of a menu item or a button that opens
// it: shown, out of the minimised state, raised and active.
void bringBack(QWidget *window);
