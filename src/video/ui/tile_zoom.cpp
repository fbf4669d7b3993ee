#include "video/ui/tile_zoom.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "video/ui/tile_overlay.h"
#include "video/ui/video_window.h"

namespace krt {
namespace {

constexpr double kWheelNotch = 120.0;

}  // namespace

TileZoom::TileZoom(VideoWindow* window, TileOverlay* overlay, std::function<void()> tap)
    : QObject(window), m_window(window), m_overlay(overlay), m_tap(std::move(tap)) {
    window->installEventFilter(this);
}

void TileZoom::zoomIn() {
    zoomAt(DigitalZoom::kStep, pointerOrMiddle());
}

void TileZoom::zoomOut() {
    zoomAt(1.0 / DigitalZoom::kStep, pointerOrMiddle());
}

void TileZoom::reset() {
    m_zoom.reset();
    apply();
}

void TileZoom::zoomAt(double step, ZoomPoint pointer) {
    m_zoom.zoomAt(step, pointer);
    apply();
}

void TileZoom::apply() {
    m_window->setZoomRegion(m_zoom.visible());
    m_overlay->setZoom(m_zoom.zoomed() ? std::optional(m_zoom.visible()) : std::nullopt);
    m_window->setCursor(m_zoom.zoomed() ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

ZoomPoint TileZoom::pictureFraction(QPointF at) const {
    const std::optional<Rect> place = m_window->picturePlacementShown();
    const QRectF area =
        place ? QRectF(place->x, place->y, place->width, place->height) : QRectF(m_window->rect());
    if (area.width() <= 0 || area.height() <= 0) {
        return {};
    }
    return {std::clamp((at.x() - area.x()) / area.width(), 0.0, 1.0),
            std::clamp((at.y() - area.y()) / area.height(), 0.0, 1.0)};
}

ZoomPoint TileZoom::pointerOrMiddle() const {
    const QPoint pointer = m_window->mapFromGlobal(QCursor::pos());
    return m_window->rect().contains(pointer) ? pictureFraction(pointer) : ZoomPoint{};
}

bool TileZoom::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::Wheel: {
            auto* wheel = static_cast<QWheelEvent*>(event);
            if (!(wheel->modifiers() & Qt::ControlModifier)) {
                return false;
            }
            const double notches = wheel->angleDelta().y() / kWheelNotch;
            zoomAt(std::pow(DigitalZoom::kStep, notches), pictureFraction(wheel->position()));
            return true;
        }
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!m_zoom.zoomed() || mouse->button() != Qt::LeftButton) {
                return false;
            }
            m_dragFrom = mouse->position();
            m_dragged = false;
            m_window->setCursor(Qt::ClosedHandCursor);
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!m_dragFrom) {
                return false;
            }
            const QPointF moved = mouse->position() - *m_dragFrom;
            m_dragged = m_dragged || moved.manhattanLength() >= QApplication::startDragDistance();
            const std::optional<Rect> place = m_window->picturePlacementShown();
            if (m_dragged && place && place->width > 0 && place->height > 0) {
                m_zoom.pan(moved.x() / place->width, moved.y() / place->height);
                m_dragFrom = mouse->position();
                apply();
                m_window->setCursor(Qt::ClosedHandCursor);
            }
            return true;
        }
        case QEvent::MouseButtonRelease: {
            if (!m_dragFrom) {
                return false;
            }
            m_dragFrom.reset();
            m_window->setCursor(m_zoom.zoomed() ? Qt::OpenHandCursor : Qt::ArrowCursor);
            if (!m_dragged && m_tap) {
                m_tap();
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace krt
