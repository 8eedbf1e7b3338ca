#include "screen/screenplugin.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <cstdio>

namespace {

// The module's entry points (screenmodule.cpp).
using GuiApplicationFn = QCoreApplication *(*)(int *, char **);
using ScreenCommandFn = int (*)(const QStringList *);
using TemplateProblemFn = void (*)(const QString *, QString *);
using SessionFn = RunScreen *(*)();
using ViewFn = ScreenView *(*)(RunScreen *);
using ModelScreenFn = QObject *(*)(const ModelScreenOptions *, quint16 *, QString *, QObject *);

struct Module {
    bool tried = false;
    QString error;
    GuiApplicationFn guiApplication = nullptr;
    ScreenCommandFn screenCommand = nullptr;
    TemplateProblemFn templateProblem = nullptr;
    SessionFn session = nullptr;
    ViewFn view = nullptr;
    ModelScreenFn modelScreen = nullptr;
};

Module &module()
{
    static Module m;
    if (m.tried)
        return m;
    m.tried = true;
    QStringList reasons;
    for (const QString &path : ScreenPlugin::candidates()) {
        if (!QFileInfo::exists(path))
            continue;
        QLibrary library(path);
        if (!library.load()) {
            reasons.append(library.errorString());
            continue;
        }
        m.guiApplication = reinterpret_cast<GuiApplicationFn>(library.resolve("quillonemuGuiApplication"));
        m.screenCommand = reinterpret_cast<ScreenCommandFn>(library.resolve("quillonemuScreenCommand"));
        m.templateProblem = reinterpret_cast<TemplateProblemFn>(library.resolve("quillonemuTemplateProblem"));
        m.session = reinterpret_cast<SessionFn>(library.resolve("quillonemuScreenSession"));
        m.view = reinterpret_cast<ViewFn>(library.resolve("quillonemuScreenView"));
        m.modelScreen = reinterpret_cast<ModelScreenFn>(library.resolve("quillonemuModelScreen"));
        if (m.guiApplication && m.screenCommand && m.templateProblem && m.session && m.view && m.modelScreen)
            return m;
        reasons.append(QStringLiteral("%1: 入口が見つかりません").arg(path));
        m = Module();
        m.tried = true;
    }
    m.error = QStringLiteral("画面を見る部品 quillonemu-screen を読み込めません（%1）。")
                  .arg(reasons.isEmpty() ? QStringLiteral("探した場所: %1").arg(ScreenPlugin::candidates().join(QStringLiteral("、")))
                                         : reasons.join(QStringLiteral("、")));
    return m;
}

} // namespace

QStringList ScreenPlugin::candidates()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("quillonemu-screen.dll");
#else
    const QString name = QStringLiteral("quillonemu-screen.so");
#endif
    // The module may be wanted before any application exists (the one that
    // draws is made by it): then the program's own path is asked of the
    // system.
    QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
#ifdef Q_OS_LINUX
    if (dir.isEmpty())
        dir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
#endif
    return {dir + u'/' + name, QFileInfo(dir + QStringLiteral("/" QUILLONEMU_SCREEN_FROM_BINDIR)).absoluteFilePath()};
}

std::unique_ptr<QCoreApplication> ScreenPlugin::guiApplication(int &argc, char **argv, QString *error)
{
    Module &m = module();
    if (!m.guiApplication) {
        *error = m.error;
        return nullptr;
    }
    return std::unique_ptr<QCoreApplication>(m.guiApplication(&argc, argv));
}

int ScreenPlugin::screenCommand(const QStringList &arguments)
{
    Module &m = module();
    if (!m.screenCommand) {
        std::fprintf(stderr, "quillonemu-cli screen: %s\n", qUtf8Printable(m.error));
        return 1;
    }
    return m.screenCommand(&arguments);
}

QString ScreenPlugin::templateProblem(const QString &path)
{
    Module &m = module();
    if (!m.templateProblem)
        return m.error;
    QString problem;
    m.templateProblem(&path, &problem);
    return problem;
}

QObject *ScreenPlugin::modelScreen(const ModelScreenOptions &options, quint16 *port, QString *error, QObject *parent)
{
    Module &m = module();
    if (!m.modelScreen) {
        *error = m.error;
        return nullptr;
    }
    return m.modelScreen(&options, port, error, parent);
}

LazyScreen::LazyScreen() = default;
LazyScreen::~LazyScreen() = default;

bool LazyScreen::load(QString *error)
{
    if (inner_)
        return true;
    Module &m = module();
    if (!m.session) {
        *error = m.error;
        return false;
    }
    inner_.reset(m.session());
    if (display_)
        inner_->setDisplay(*display_);
    return true;
}

void LazyScreen::setDisplay(const DisplayArea &area)
{
    display_ = area;
    if (inner_)
        inner_->setDisplay(area);
}

ScreenView *LazyScreen::view(QString *error)
{
    return load(error) ? module().view(inner_.get()) : nullptr;
}

bool LazyScreen::openSource(const QString &source, QString *error)
{
    return load(error) && inner_->openSource(source, error);
}

void LazyScreen::startOpen(const QString &source)
{
    unloaded_ = OpenState();
    if (!load(&unloaded_.error)) {
        unloaded_.done = true;
        return;
    }
    inner_->setWakeUp(wakeUp_);
    inner_->startOpen(source);
}

RunScreen::OpenState LazyScreen::openState()
{
    return inner_ ? inner_->openState() : unloaded_;
}

void LazyScreen::abandonOpen()
{
    if (inner_)
        inner_->abandonOpen();
}

bool LazyScreen::hasSource() const
{
    return inner_ && inner_->hasSource();
}

QString LazyScreen::sourceName() const
{
    return inner_ ? inner_->sourceName() : QString();
}

bool LazyScreen::loadTemplate(const QString &path, QString *reason)
{
    return load(reason) && inner_->loadTemplate(path, reason);
}

void LazyScreen::startWait(const QString &path, double level, bool gone)
{
    if (!inner_)
        return;
    inner_->setWakeUp(wakeUp_);
    inner_->startWait(path, level, gone);
}

RunScreen::WaitState LazyScreen::waitState() const
{
    return inner_ ? inner_->waitState() : WaitState();
}

void LazyScreen::endWait()
{
    if (inner_) {
        inner_->endWait();
        inner_->setWakeUp({});
    }
}

bool LazyScreen::saveNewest(const QString &path, QString *error)
{
    if (!inner_) {
        *error = QStringLiteral("「%1」: まだフレームが 1 枚も来ていません。").arg(path);
        return false;
    }
    return inner_->saveNewest(path, error);
}

bool LazyScreen::saveMarked(const QString &path, const QRect &box, const QRect &part, QString *error)
{
    if (!inner_)
        return saveNewest(path, error);
    return inner_->saveMarked(path, box, part, error);
}

bool LazyScreen::prepareTextReading(QString *reason)
{
    return load(reason) && inner_->prepareTextReading(reason);
}

void LazyScreen::startTextWait(const QString &wanted, const QRect &region, double seconds)
{
    if (!inner_)
        return;
    inner_->setWakeUp(wakeUp_);
    inner_->startTextWait(wanted, region, seconds);
}

void LazyScreen::startFrameWait()
{
    if (inner_)
        inner_->startFrameWait();
}

bool LazyScreen::saveText(const QString &path, const QString &text, QString *error)
{
    return load(error) && inner_->saveText(path, text, error);
}
