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
// throughout. Loads qtbase_ja.qm; false when it is nowhere to be found.
bool installToolkitTranslations();
