#include "keypad/keypadbuttons.h"

namespace {

// Columns and rows of the layout, in twips.
constexpr int kFunctionColumn = 120;
constexpr int kColumn1 = 960;
constexpr int kColumn2 = 1680;
constexpr int kColumn3 = 2400;

// F1 to F10 run down the left column, one every 360 twips from 720.
constexpr int functionRow(int n)
{
    return 720 + 360 * (n - 1);
}

} // namespace

const std::array<KeypadButton, kButtonCount> kKeypadButtons = {{
    {u"F1", "F1", kFunctionColumn, functionRow(1)},
    {u"F2", "F2", kFunctionColumn, functionRow(2)},
    {u"F3", "F3", kFunctionColumn, functionRow(3)},
    {u"F4", "F4", kFunctionColumn, functionRow(4)},
    {u"F5", "F5", kFunctionColumn, functionRow(5)},
    {u"F6", "F6", kFunctionColumn, functionRow(6)},
    {u"F7", "F7", kFunctionColumn, functionRow(7)},
    {u"F8", "F8", kFunctionColumn, functionRow(8)},
    {u"F9", "F9", kFunctionColumn, functionRow(9)},
    {u"F10", "F10", kFunctionColumn, functionRow(10)},
    // The soft keys and the call keys.
    {u"L", "L", kColumn1, 720},
    {u"C", "C", kColumn2, 720},
    {u"R", "R", kColumn3, 720},
    {u"ア帳", "ADDRESS", kColumn1, 1080},
    {u"発信", "CALL", kColumn2, 1080},
    {u"着信", "INCOMING", kColumn3, 1080},
    // The cursor block.
    {u"メール", "MAIL", kColumn1, 1560},
    {u"↑", "UP", kColumn2, 1560},
    {u"EZ", "EZ", kColumn3, 1560},
    {u"←", "LEFT", kColumn1, 1920},
    {u"■", "ENTER", kColumn2, 1920},
    {u"→", "RIGHT", kColumn3, 1920},
    {u"機能", "FUNCTION", kColumn1, 2280},
    {u"↓", "DOWN", kColumn2, 2280},
    // The hook keys and the dial pad.
    {u"OFF", "OFFOOK", kColumn1, 2760},
    {u"クリア", "CLEAR", kColumn2, 2760},
    {u"ON", "ONHOOK", kColumn3, 2760},
    {u"1", "1", kColumn1, 3120},
    {u"2", "2", kColumn2, 3120},
    {u"3", "3", kColumn3, 3120},
    {u"4", "4", kColumn1, 3480},
    {u"5", "5", kColumn2, 3480},
    {u"6", "6", kColumn3, 3480},
    {u"7", "7", kColumn1, 3840},
    {u"8", "8", kColumn2, 3840},
    {u"9", "9", kColumn3, 3840},
    {u"*", "*", kColumn1, 4200},
    {u"0", "0", kColumn2, 4200},
    {u"#", "#", kColumn3, 4200},
    // The connect button; its caption is set when the window loads.
    {u"", "", 1200, 360},
}};
