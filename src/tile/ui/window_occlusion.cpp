#include "tile/ui/window_occlusion.h"

#include <xcb/xcb.h>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <memory>

namespace krt {
namespace {

xcb_connection_t* xcbConnection() {
    const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

// Adds visibility changes to what this program hears of the window, keeping what Qt asked for.
bool askForVisibility(xcb_connection_t* connection, xcb_window_t window) {
    const xcb_get_window_attributes_cookie_t cookie = xcb_get_window_attributes(connection, window);
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(connection, cookie, nullptr), &std::free);
    if (!attributes) {
        return false;
    }
    const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    return true;
}

}  // namespace

WindowOcclusion* WindowOcclusion::of(QWidget* topLevel) {
    if (auto* watcher =
            topLevel->findChild<WindowOcclusion*>(QString(), Qt::FindDirectChildrenOnly)) {
        return watcher;
    }
    return new WindowOcclusion(topLevel);
}

WindowOcclusion::WindowOcclusion(QWidget* topLevel) : QObject(topLevel) {
    xcb_connection_t* connection = xcbConnection();
    const auto window = static_cast<xcb_window_t>(topLevel->winId());
    if (connection != nullptr && askForVisibility(connection, window)) {
        m_window = window;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
}

WindowOcclusion::~WindowOcclusion() {
    if (m_window != 0) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool WindowOcclusion::nativeEventFilter(const QByteArray& eventType, void* message,
                                        qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_VISIBILITY_NOTIFY) {
        return false;
    }
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    const bool covered = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
    if (visibility->window == m_window && covered != m_covered) {
        m_covered = covered;
        emit coveredChanged();
    }
    return false;
}

}  // namespace krt
