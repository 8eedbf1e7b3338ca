// Writes the program icon as PNG files for the desktop (run at build time):
// iconwriter DIR writes DIR/32x32/quillonemu.png and DIR/256x256/quillonemu.png.

#include "widgets/appearance.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: iconwriter DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    for (int size : {32, 256}) {
        const QString sub = QStringLiteral("%1/%2x%2").arg(dir).arg(size);
        if (!QDir().mkpath(sub) || !programIcon().pixmap(size, size).save(sub + QStringLiteral("/quillonemu.png"))) {
            std::fprintf(stderr, "iconwriter: cannot write %s\n", qPrintable(sub));
            return 1;
        }
    }
    return 0;
}
