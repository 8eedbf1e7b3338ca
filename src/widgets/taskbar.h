#pragma once

class QWidget;

// Keeps the top-level `window` off the desktop's taskbar, every time it
// shows, while it stays a window of its own (no owner). On X11 it carries
// _NET_WM_STATE_SKIP_TASKBAR, set before the window is mapped; on other
// platforms nothing changes.
void keepOffTaskbar(QWidget *window);
