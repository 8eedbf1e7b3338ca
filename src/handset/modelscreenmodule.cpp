// The model screen's entry point in the quillonemu-screen module (see
// screen/screenplugin.h, ScreenPlugin::modelScreen): it draws with OpenCV,
// which only the module loads.

#include "handset/modelscreen.h"

extern "C" Q_DECL_EXPORT QObject *quillonemuModelScreen(const ModelScreenOptions *options, quint16 *port,
                                                        QString *error, QObject *parent)
{
    auto *screen = new ModelScreen(*options, parent);
    if (!screen->start(error)) {
        delete screen;
        return nullptr;
    }
    *port = screen->port();
    return screen;
}
