#pragma once

#include "macro/runscreen.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QCoreApplication;
class QObject;
class ScreenView;
// The virtual handset's (handset/modelscreenoptions.h), passed on to the
// module as it is.
struct ModelScreenOptions;

// Seeing the handset lives in a module of its own (quillonemu-screen), loaded
// the first time a program needs it: OpenCV and the video libraries behind
// it take a quarter of a second and some 70 MB to load, which a program that
// never looks at a screen should not pay. These calls load it; when it
// cannot be loaded they say why.
namespace ScreenPlugin {

// Where the module is looked for: beside the program (the build tree, a
// Windows install), then the installed library folder.
QStringList candidates();

// The GUI application the model screen draws with (a QGuiApplication).
std::unique_ptr<QCoreApplication> guiApplication(int &argc, char **argv, QString *error);
// quillonemu-cli screen.
int screenCommand(const QStringList &arguments);
// Why the picture in `path` cannot be a template (empty when it can).
QString templateProblem(const QString &path);
// The virtual handset's model screen, started; its slot take(DecodedPacket)
// shows a packet. Null and `error` when it cannot start.
QObject *modelScreen(const ModelScreenOptions &options, quint16 *port, QString *error, QObject *parent);

} // namespace ScreenPlugin

// The run's screen, with the module loaded only once a source or a
// template is asked for; a macro without screen statements never loads it.
class LazyScreen : public RunScreen {
public:
    LazyScreen();
    ~LazyScreen() override;

    bool prepare(QString *error) override { return load(error); }
    bool openSource(const QString &source, QString *error) override;
    void startOpen(const QString &source) override;
    OpenState openState() override;
    void abandonOpen() override;
    bool hasSource() const override;
    QString sourceName() const override;
    void setDisplay(const DisplayArea &area) override;
    bool loadTemplate(const QString &path, QString *reason) override;
    void startWait(const QString &path, double level, bool gone) override;
    WaitState waitState() const override;
    void endWait() override;
    bool saveNewest(const QString &path, QString *error) override;
    bool saveMarked(const QString &path, const QRect &box, const QRect &part, QString *error) override;
    bool saveText(const QString &path, const QString &text, QString *error) override;
    bool prepareTextReading(QString *reason) override;
    void startTextWait(const QString &wanted, const QRect &region, double seconds) override;
    void startFrameWait() override;

    // The same screen as the screen window sees it (the module loaded);
    // null and `error` when the module cannot be loaded.
    ScreenView *view(QString *error);

private:
    bool load(QString *error);
    std::unique_ptr<RunScreen> inner_;
    // An opening that failed because the module could not be loaded.
    OpenState unloaded_;
    // The display as last set: given to the session once it is made.
    std::optional<DisplayArea> display_;
};
