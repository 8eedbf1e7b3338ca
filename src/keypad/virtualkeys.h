#pragma once

#include <Qt>

// The Windows virtual-key code of a key that went down, for the keys the
// text entry window tells apart: the editing and cursor keys, Enter, the
// digits and letters, and the numeric pad's digits and operators (told from
// the main keyboard's by Qt::KeypadModifier). Shift, Ctrl and Alt change
// nothing (Shift+Up is still Up). Any other key gives 0.
int windowsVirtualKey(int qtKey, Qt::KeyboardModifiers modifiers);
