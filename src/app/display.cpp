#include "app/display.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QtGlobal>

DisplayKind displayFor(int argc, char **argv)
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            platform = argv[i + 1];
    }
    // "offscreen:fontengine=freetype" and the like: the plugin comes first.
    const QByteArray plugin = platform.split(':').value(0);
    if (plugin == "offscreen" || plugin == "minimal")
        return DisplayKind::Offscreen;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (platform.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return DisplayKind::Missing;
#endif
    return DisplayKind::Screen;
}
