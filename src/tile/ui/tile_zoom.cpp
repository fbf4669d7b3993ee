#include "tile/ui/tile_zoom.h"

#include "common/ui/zoom_gestures.h"
#include "tile/ui/tile_overlay.h"
#include "tile/ui/video_window.h"

namespace krt {
namespace {

ZoomPoint zoomPoint(QPointF fraction) {
    return {fraction.x(), fraction.y()};
}

}  // namespace

TileZoom::TileZoom(VideoWindow* window, TileOverlay* overlay, std::function<void()> tap)
    : QObject(window), m_window(window), m_overlay(overlay) {
    ZoomGestures::Handlers handlers;
    handlers.zoomed = [this] { return m_zoom.zoomed(); };
    handlers.pictureArea = [this] {
        const std::optional<Rect> place = m_window->picturePlacementShown();
        return place ? QRectF(place->x, place->y, place->width, place->height)
                     : QRectF(m_window->rect());
    };
    handlers.zoomAt = [this](double step, QPointF at) { zoomAt(step, zoomPoint(at)); };
    handlers.pan = [this](double dx, double dy) {
        m_zoom.pan(dx, dy);
        apply();
    };
    handlers.tap = std::move(tap);
    m_gestures = new ZoomGestures(window, DigitalZoom::kStep, std::move(handlers));
}

void TileZoom::zoomIn() {
    zoomAt(DigitalZoom::kStep, zoomPoint(m_gestures->pointerOrMiddle()));
}

void TileZoom::zoomOut() {
    zoomAt(1.0 / DigitalZoom::kStep, zoomPoint(m_gestures->pointerOrMiddle()));
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

}  // namespace krt
