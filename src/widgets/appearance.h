#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

// What every window of the program looks like: the program icon, the
// user-interface font, Qt's own texts in Japanese.

// The 32 x 32 program icon (with larger sizes for the desktop), drawn by the
// program itself.
QIcon programIcon();

// A 9-point Japanese user-interface font, falling back to the system's.
QFont userInterfaceFont();

// Qt's own texts (the file dialog's labels and buttons, the text boxes'
// context menus) in Japanese, whatever the locale: the program is Japanese
// throughout. Loads qtbase_ja.qm (false when it is nowhere to be found) and
// adds the few texts of the file dialog Debian's catalogue lacks (the type
// 「フォルダー」 and its kin); makes Japanese the default locale (the file
// types' names).
bool installToolkitTranslations();

// Before the QApplication: the locale Qt takes for the system's, which
// formats the file dialog's sizes and dates (「42 バイト」, 「2026/12/07
// 11:41」), is Japanese. Qt reads the system locale from the environment
// once, on first use; it is read with LC_ALL naming Japanese, and the
// environment is put back at once, so that the C library and the programs
// started from this one keep the user's locale. Called before anything asks
// Qt for the system's locale.
void useJapaneseSystemLocale();
