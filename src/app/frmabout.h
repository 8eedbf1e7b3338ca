#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: the program icon, name and version, and the copyright line.
// Not modal; OK or the close box unloads it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

    // The load steps: placed 256 twips right of and below `mainTopLeft` (the
    // main window's outer top-left corner), texts set.
    void Form_Load(const QPoint &mainTopLeft, const QString &title, const QString &version,
                   const QString &copyright);

    QLabel *Image1;
    QLabel *Label1;
    QLabel *lblCopyright;
    QPushButton *cmdOK;
};
