// The entry points of the quillonemu-screen module (see screenplugin.h): the
// parts of the programs that need OpenCV, made once the module is loaded.
// The virtual handset's model screen brings its own
// (src/handset/modelscreenmodule.cpp).

#include "screen/screencommand.h"
#include "screen/screensession.h"

#include <QGuiApplication>

#define QUILLONEMU_SCREEN_EXPORT extern "C" Q_DECL_EXPORT

QUILLONEMU_SCREEN_EXPORT QCoreApplication *quillonemuGuiApplication(int *argc, char **argv)
{
    return new QGuiApplication(*argc, argv);
}

QUILLONEMU_SCREEN_EXPORT int quillonemuScreenCommand(const QStringList *arguments)
{
    return screenCommand(*arguments);
}

QUILLONEMU_SCREEN_EXPORT void quillonemuTemplateProblem(const QString *path, QString *problem)
{
    QString reason;
    *problem = readTemplate(*path, &reason).empty() ? reason : QString();
}

QUILLONEMU_SCREEN_EXPORT RunScreen *quillonemuScreenSession()
{
    return new ScreenSession;
}

QUILLONEMU_SCREEN_EXPORT ScreenView *quillonemuScreenView(RunScreen *session)
{
    return static_cast<ScreenSession *>(session);
}
