#include "platform/WindowFrame.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <class T> Reply<T> Owned(T* reply) {
    return Reply<T>(reply, &std::free);
}

} // namespace

namespace {

struct TFrame {
    QRect client;
    QMargins extents;
};

std::optional<TFrame> CurrentFrame(const QWidget* window) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    const QWindow* handle = window->windowHandle();
    if (!x11 || !handle || !handle->handle())
        return std::nullopt;
    xcb_connection_t* c = x11->connection();
    const auto w = xcb_window_t(handle->winId());

    // All requests first, then the replies: one round trip.
    static const char extentsName[] = "_NET_FRAME_EXTENTS";
    const auto atomCookie =
        xcb_intern_atom(c, true, uint16_t(std::strlen(extentsName)), extentsName);
    const auto attributesCookie = xcb_get_window_attributes(c, w);
    const auto geometryCookie = xcb_get_geometry(c, w);
    const auto rootCookie = xcb_translate_coordinates(
        c, w, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0);
    const auto atom = Owned(xcb_intern_atom_reply(c, atomCookie, nullptr));
    const auto attributes = Owned(xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    const auto geometry = Owned(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    const auto origin = Owned(xcb_translate_coordinates_reply(c, rootCookie, nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE || !attributes ||
        attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !origin)
        return std::nullopt;

    const auto extents = Owned(xcb_get_property_reply(
        c, xcb_get_property(c, false, w, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!extents || extents->format != 32 || xcb_get_property_value_length(extents.get()) != 16)
        return std::nullopt;
    const auto* e = static_cast<const quint32*>(xcb_get_property_value(extents.get()));
    // left, right, top, bottom
    return TFrame{QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height),
                  QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3]))};
}

} // namespace

std::optional<QMargins> CurrentFrameMargins(const QWidget* window) {
    if (const std::optional<TFrame> frame = CurrentFrame(window))
        return frame->extents;
    return std::nullopt;
}
