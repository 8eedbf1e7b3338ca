#include "widgets/taskbar.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#include <cstdlib>
#include <memory>
#endif

namespace {

#if QT_CONFIG(xcb)
xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The atoms of _NET_WM_STATE and its skip-taskbar state, or nothing when the
// program is not on the xcb platform (offscreen also answers as X11, without
// a connection).
struct SkipTaskbar {
    xcb_connection_t *connection = nullptr;
    xcb_atom_t state = XCB_ATOM_NONE;
    xcb_atom_t skip = XCB_ATOM_NONE;

    SkipTaskbar()
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11 || !x11->connection())
            return;
        connection = x11->connection();
        state = internAtom(connection, "_NET_WM_STATE");
        skip = internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    }
    bool usable() const { return connection && state != XCB_ATOM_NONE && skip != XCB_ATOM_NONE; }
};

// Before the window is mapped: the state goes into its _NET_WM_STATE, which
// Qt keeps when it maps the window, and the window manager reads then.
void setSkipTaskbarProperty(QWidget *window)
{
    const SkipTaskbar atoms;
    if (!atoms.usable())
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(atoms.connection, 0, id, atoms.state, XCB_ATOM_ATOM, 0, 1024);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(atoms.connection, cookie, nullptr), &std::free);
    if (reply && reply->format == 32) {
        const auto *present = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
        for (uint32_t i = 0; i < reply->value_len; ++i) {
            if (present[i] == atoms.skip)
                return;
        }
    }
    xcb_change_property(atoms.connection, XCB_PROP_MODE_APPEND, id, atoms.state, XCB_ATOM_ATOM, 32, 1, &atoms.skip);
    xcb_flush(atoms.connection);
}

// Once it is mapped: a request to the window manager. Needed as well, since
// a window manager that is still withdrawing the window's previous showing
// (a quick hide and show) clears the property.
void requestSkipTaskbar(QWidget *window)
{
    const SkipTaskbar atoms;
    if (!atoms.usable())
        return;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(window->winId());
    message.type = atoms.state;
    message.data.data32[0] = 1; // add
    message.data.data32[1] = atoms.skip;
    message.data.data32[3] = 1; // from an application
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(atoms.connection)).data->root;
    xcb_send_event(atoms.connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(atoms.connection);
}

// The Motif window manager hints: flags, functions, decorations, input
// mode, status.
void setNoMinimizeHints(QWidget *window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    const xcb_atom_t hints = internAtom(connection, "_MOTIF_WM_HINTS");
    if (hints == XCB_ATOM_NONE)
        return;
    enum : uint32_t {
        kFunctions = 1,
        kDecorations = 2,
        kFunctionMove = 4,
        kFunctionClose = 32,
        kDecorBorder = 2,
        kDecorTitle = 8,
        kDecorMenu = 16,
    };
    const uint32_t value[5] = {kFunctions | kDecorations, kFunctionMove | kFunctionClose,
                               kDecorBorder | kDecorTitle | kDecorMenu, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), hints, hints, 32, 5, value);
    xcb_flush(connection);
}
#endif

// Before the window is mapped, where the window manager reads the hints.
class NoMinimizeHinter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
#if QT_CONFIG(xcb)
        if (event->type() == QEvent::Show)
            setNoMinimizeHints(static_cast<QWidget *>(watched));
#else
        Q_UNUSED(watched);
        Q_UNUSED(event);
#endif
        return false;
    }
};

// A window's show event comes before the window is mapped.
class TaskbarHider : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
#if QT_CONFIG(xcb)
        if (event->type() == QEvent::Show) {
            auto *window = static_cast<QWidget *>(watched);
            setSkipTaskbarProperty(window);
            // Runs after the window was mapped.
            QTimer::singleShot(0, window, [window] {
                if (window->isVisible())
                    requestSkipTaskbar(window);
            });
        }
#else
        Q_UNUSED(watched);
        Q_UNUSED(event);
#endif
        return false;
    }
};

} // namespace

void keepOffTaskbar(QWidget *window)
{
    window->installEventFilter(new TaskbarHider(window));
}

void askForNoMinimize(QWidget *window)
{
    window->installEventFilter(new NoMinimizeHinter(window));
}

void bringBack(QWidget *window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}
