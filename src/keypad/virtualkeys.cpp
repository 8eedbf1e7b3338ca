#include "keypad/virtualkeys.h"

namespace {

// Keys whose code does not depend on where they sit: with NumLock off the
// numeric pad's arrows, Home, End, ... give the same codes as the cursor
// block's.
int editingKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

// The numeric pad's digits and operators.
int numericPadKey(int qtKey)
{
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return 96 + (qtKey - Qt::Key_0);
    switch (qtKey) {
    case Qt::Key_Asterisk:
        return 106;
    case Qt::Key_Plus:
        return 107;
    case Qt::Key_Minus:
        return 109;
    case Qt::Key_Period:
    case Qt::Key_Comma:
        return 110;
    case Qt::Key_Slash:
        return 111;
    default:
        return 0;
    }
}

} // namespace

int windowsVirtualKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (const int code = editingKey(qtKey))
        return code;
    if (modifiers & Qt::KeypadModifier)
        return numericPadKey(qtKey);
    // The main keyboard: digits and letters carry their upper-case ASCII
    // code; signs depend on the layout and get none here.
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return 48 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 65 + (qtKey - Qt::Key_A);
    return 0;
}
