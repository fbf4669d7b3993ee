#include "media/ui/zoomable_snapshot.h"

#include <QPainter>
#include <QShortcut>
#include <functional>
#include <utility>

#include "common/ui/zoom_gestures.h"
#include "media/snapshot_picture.h"

namespace krt {

ZoomableSnapshot::ZoomableSnapshot(QWidget* parent) : QWidget(parent) {
    ZoomGestures::Handlers handlers;
    handlers.zoomed = [this] { return m_zoom.zoomed(); };
    handlers.pictureArea = [this] { return QRectF(pictureArea()); };
    handlers.zoomAt = [this](double step, QPointF at) { zoomAt(step, at); };
    handlers.pan = [this](double dx, double dy) {
        m_zoom.pan(dx, dy);
        update();
    };
    m_gestures = new ZoomGestures(this, DigitalZoom::kStep, std::move(handlers));
}

void ZoomableSnapshot::setPicture(QImage picture) {
    m_picture = std::move(picture);
    showWhole();
}

void ZoomableSnapshot::addZoomKeys(QWidget* window) {
    const auto zoomBy = [this](double step) { zoomAt(step, m_gestures->pointerOrMiddle()); };
    const std::pair<QKeyCombination, std::function<void()>> zoomKeys[] = {
        {Qt::CTRL | Qt::Key_Plus, [zoomBy] { zoomBy(DigitalZoom::kStep); }},
        {Qt::CTRL | Qt::Key_Equal, [zoomBy] { zoomBy(DigitalZoom::kStep); }},
        {Qt::CTRL | Qt::Key_Minus, [zoomBy] { zoomBy(1 / DigitalZoom::kStep); }},
        {Qt::CTRL | Qt::Key_0, [this] { showWhole(); }},
    };
    for (const auto& [keys, action] : zoomKeys) {
        auto* shortcut = new QShortcut(QKeySequence(keys), window);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    }
}

void ZoomableSnapshot::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (m_picture.isNull()) {
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("No snapshot"));
        return;
    }
    // The part shown, at the snapshot's own detail.
    const Rect part = cropOf(m_zoom.visible(), {m_picture.width(), m_picture.height()});
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureArea(), m_picture, QRect(part.x, part.y, part.width, part.height));
    if (m_zoom.zoomed()) {
        drawOverview(painter);
    }
}

QRect ZoomableSnapshot::pictureArea() const {
    const PictureSize fitted =
        scaleToFit({m_picture.width(), m_picture.height()}, {width(), height()});
    return {(width() - fitted.width) / 2, (height() - fitted.height) / 2, fitted.width,
            fitted.height};
}

void ZoomableSnapshot::zoomAt(double step, QPointF at) {
    if (!m_picture.isNull()) {
        m_zoom.zoomAt(step, {at.x(), at.y()});
        setCursor(m_zoom.zoomed() ? Qt::OpenHandCursor : Qt::ArrowCursor);
        update();
    }
}

void ZoomableSnapshot::showWhole() {
    m_zoom.reset();
    setCursor(Qt::ArrowCursor);
    update();
}

void ZoomableSnapshot::drawOverview(QPainter& painter) const {
    const QRect area = pictureArea();
    const OverviewMark mark = overviewMark(m_zoom.visible(), area.width(), area.height());
    const QRect whole(area.x() + mark.whole.x, area.y() + mark.whole.y, mark.whole.width,
                      mark.whole.height);
    painter.fillRect(whole, QColor(0, 0, 0, 150));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(whole.adjusted(0, 0, -1, -1));
    painter.setPen(QPen(QColor(255, 210, 0), 2));
    painter.drawRect(QRect(area.x() + mark.visible.x, area.y() + mark.visible.y, mark.visible.width,
                           mark.visible.height)
                         .adjusted(1, 1, -1, -1));
}

}  // namespace krt
