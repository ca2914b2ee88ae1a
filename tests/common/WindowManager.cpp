#include "tests/common/WindowManager.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

void SelectTestPlatform() {
    const QByteArray display = qgetenv("VENDRIK_TEST_DISPLAY");
    if (display.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display);
}

bool UnderWindowManager() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

namespace wm {
namespace {

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* Connection() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t XWindow(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return handle && handle->handle() ? xcb_window_t(handle->winId())
                                      : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_atom_t Atom(const char* name) {
    xcb_connection_t* c = Connection();
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, uint16_t(strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QString AtomName(xcb_atom_t atom) {
    xcb_connection_t* c = Connection();
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr), &std::free);
    if (!reply)
        return {};
    return QString::fromLatin1(xcb_get_atom_name_name(reply.get()),
                               xcb_get_atom_name_name_length(reply.get()));
}

// The 32-bit items of a property; empty when it is not set.
QList<quint32> Property32(const QWidget* window, const char* name, xcb_atom_t type) {
    xcb_connection_t* c = Connection();
    const xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return {};
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, false, w, Atom(name), type, 0, 64), nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    return QList<quint32>(data, data + n);
}

bool RunXdotool(const QStringList& arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    return xdotool.waitForFinished(5000) && xdotool.exitStatus() == QProcess::NormalExit &&
           xdotool.exitCode() == 0;
}

// The server counts device pixels, the toolkit and the tests logical ones: at 150 % or
// 200 % the two differ by the screen's ratio. Rounded as the toolkit rounds (each
// coordinate and length on its own), so that a toolkit's rectangle and ours compare.
qreal Ratio(const QWidget* window) {
    return window ? window->devicePixelRatioF() : qApp->primaryScreen()->devicePixelRatio();
}
int ToLogical(int device, qreal ratio) {
    return qRound(device / ratio);
}
QRect ToLogical(const QRect& device, qreal ratio) {
    return QRect(ToLogical(device.x(), ratio), ToLogical(device.y(), ratio),
                 ToLogical(device.width(), ratio), ToLogical(device.height(), ratio));
}
QMargins ToLogical(const QMargins& device, qreal ratio) {
    return QMargins(ToLogical(device.left(), ratio), ToLogical(device.top(), ratio),
                    ToLogical(device.right(), ratio), ToLogical(device.bottom(), ratio));
}
QPoint ToDevice(const QPoint& logical, qreal ratio) {
    return QPoint(qRound(logical.x() * ratio), qRound(logical.y() * ratio));
}

QMargins NativeFrameExtents(const QWidget* window, bool* set) {
    const QList<quint32> e = Property32(window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL);
    if (set)
        *set = e.size() == 4;
    if (e.size() != 4)
        return {};
    return QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3])); // left, right, top, bottom
}

} // namespace

QString TitleProperty(const QWidget* window, const char* name) {
    xcb_connection_t* c = Connection();
    const xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return QStringLiteral("<no window>");
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            c, xcb_get_property(c, false, w, Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
            nullptr),
        &std::free);
    if (!reply || reply->type == XCB_ATOM_NONE)
        return QStringLiteral("<not set>");
    return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

QMargins FrameExtents(const QWidget* window, bool* set) {
    return ToLogical(NativeFrameExtents(window, set), Ratio(window));
}

QRect ClientOnScreen(const QWidget* window) {
    return ToLogical(NativeClientOnScreen(window), Ratio(window));
}

QRect NativeClientOnScreen(const QWidget* window) {
    xcb_connection_t* c = Connection();
    const xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return {};
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &std::free);
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr), &std::free);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry)
        return {};
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, geometry->root, 0, 0),
                                        nullptr),
        &std::free);
    return origin ? QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height)
                  : QRect();
}

int StackingIndex(const QWidget* window) {
    xcb_connection_t* c = Connection();
    xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return -1;
    // Up to the ancestor that is a child of the root: the manager's frame, if any.
    for (;;) {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr),
                                           &std::free);
        if (!tree)
            return -1;
        if (tree->parent == tree->root) {
            Reply<xcb_query_tree_reply_t> top(
                xcb_query_tree_reply(c, xcb_query_tree(c, tree->root), nullptr), &std::free);
            if (!top)
                return -1;
            const xcb_window_t* children = xcb_query_tree_children(top.get());
            const int n = xcb_query_tree_children_length(top.get());
            for (int i = 0; i < n; ++i)
                if (children[i] == w)
                    return i;
            return -1;
        }
        w = tree->parent;
    }
}

QRect OuterFrame(const QWidget* window) {
    // Converted as a whole: the manager placed the frame's corner, on a device pixel.
    bool extentsSet = false;
    const QMargins extents = NativeFrameExtents(window, &extentsSet);
    const QRect client = NativeClientOnScreen(window);
    if (!extentsSet || client.isEmpty())
        return {};
    return ToLogical(client.marginsAdded(extents), Ratio(window));
}

QRect ScreenFrame(const QWidget* window) {
    return UnderWindowManager() ? OuterFrame(window) : window->frameGeometry();
}

static void SendToRoot(const QWidget* window, const char* message, const QList<quint32>& data) {
    xcb_connection_t* c = Connection();
    const xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = Atom(message);
    for (int i = 0; i < data.size() && i < 5; ++i)
        event.data.data32[i] = data[i];
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_send_event(c, false, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

void MoveFrameByManager(const QWidget* window, const QPoint& framePos) {
    // North-west gravity: the position is the frame's; x and y given; from the user.
    constexpr quint32 NorthWest = 1, HasX = 1 << 8, HasY = 1 << 9, FromUser = 2 << 12;
    const QPoint device = ToDevice(framePos, Ratio(window));
    SendToRoot(
        window, "_NET_MOVERESIZE_WINDOW",
        {NorthWest | HasX | HasY | FromUser, quint32(device.x()), quint32(device.y()), 0, 0});
}

bool PositionHint(const QWidget* window) {
    const QList<quint32> h = Property32(window, "WM_NORMAL_HINTS", XCB_GET_PROPERTY_TYPE_ANY);
    constexpr quint32 USPosition = 1, PPosition = 4;
    return !h.isEmpty() && (h[0] & (USPosition | PPosition));
}

bool Managed(const QWidget* window) {
    xcb_connection_t* c = Connection();
    const xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return false;
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr),
                                       &std::free);
    return tree && tree->parent != tree->root;
}

QPoint HintedPosition(const QWidget* window) {
    const QList<quint32> h = Property32(window, "WM_NORMAL_HINTS", XCB_GET_PROPERTY_TYPE_ANY);
    if (h.size() < 3)
        return {};
    const qreal ratio = Ratio(window);
    return QPoint(ToLogical(qint32(h[1]), ratio), ToLogical(qint32(h[2]), ratio));
}

QStringList AllowedActions(const QWidget* window) {
    QStringList names;
    for (quint32 atom : Property32(window, "_NET_WM_ALLOWED_ACTIONS", XCB_ATOM_ATOM))
        names << AtomName(atom);
    return names;
}

MotifHints Motif(const QWidget* window) {
    const QList<quint32> h = Property32(window, "_MOTIF_WM_HINTS", XCB_GET_PROPERTY_TYPE_ANY);
    MotifHints hints;
    if (h.size() < 3)
        return hints;
    hints.present = true;
    hints.flags = h[0];
    hints.functions = h[1];
    hints.decorations = h[2];
    return hints;
}

bool FixedSizeHint(const QWidget* window) {
    // WM_SIZE_HINTS: flags, x, y, width, height, min w/h, max w/h, ...
    const QList<quint32> h = Property32(window, "WM_NORMAL_HINTS", XCB_GET_PROPERTY_TYPE_ANY);
    constexpr quint32 PMinSize = 16, PMaxSize = 32;
    return h.size() >= 9 && (h[0] & PMinSize) && (h[0] & PMaxSize) && h[5] == h[7] && h[6] == h[8];
}

void SetDecorated(const QWidget* window, bool decorated) {
    xcb_connection_t* c = Connection();
    const xcb_window_t w = XWindow(window);
    if (!c || w == XCB_WINDOW_NONE)
        return;
    const xcb_atom_t hints = Atom("_MOTIF_WM_HINTS");
    const quint32 value[5] = {MwmHintsDecorations, 0, decorated ? MwmDecorAll : 0, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, hints, hints, 32, 5, value);
    xcb_flush(c);
}

void SendCloseCommand(const QWidget* window) {
    SendToRoot(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2});
}

bool PressKeys(const QString& keys) {
    return RunXdotool(QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} +
                      keys.split(u' ', Qt::SkipEmptyParts));
}

bool ClickAt(const QPoint& globalPos) {
    const QPoint device = ToDevice(globalPos, Ratio(nullptr));
    return RunXdotool({QStringLiteral("mousemove"), QString::number(device.x()),
                       QString::number(device.y()), QStringLiteral("click"), QStringLiteral("1")});
}

} // namespace wm
