#pragma once

// Where the program's windows would appear, decided once at start-up, before
// the toolkit starts: from a "-platform NAME" argument, else the
// QT_QPA_PLATFORM variable, else DISPLAY or WAYLAND_DISPLAY (on systems with
// X11 or Wayland).
enum class DisplayKind {
    Missing,   // none at all: the toolkit would abort
    Offscreen, // "offscreen" or "minimal": nobody can see a window or answer it
    Screen,
};

DisplayKind displayFor(int argc, char **argv);
