#pragma once

#include <QString>
#include <array>

// The keypad window's buttons: caption, the key it presses and where it sits.
struct KeypadButton {
    const char16_t *caption;
    // The plain key of KeyTable the button sends; empty for the connect
    // button.
    const char *key;
    // Top-left corner in twips from the client area's top-left.
    int left;
    int top;
};

// Index of the connect button in frmKeyboard::Command1.
constexpr int kConnectButton = 39;
constexpr int kButtonCount = 40;

// The buttons by their index in frmKeyboard::Command1.
extern const std::array<KeypadButton, kButtonCount> kKeypadButtons;

// Sizes in twips.
constexpr int kKeyButtonWidth = 615;
constexpr int kConnectButtonWidth = 975;
constexpr int kButtonHeight = 255;
