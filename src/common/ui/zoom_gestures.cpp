#include "common/ui/zoom_gestures.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace krt {
namespace {

constexpr double kWheelNotch = 120.0;

}  // namespace

ZoomGestures::ZoomGestures(QWidget* target, double stepPerNotch, Handlers handlers)
    : QObject(target),
      m_target(target),
      m_stepPerNotch(stepPerNotch),
      m_handlers(std::move(handlers)) {
    target->installEventFilter(this);
}

QPointF ZoomGestures::fractionOf(QPointF at) const {
    const QRectF area = m_handlers.pictureArea();
    if (area.width() <= 0 || area.height() <= 0) {
        return {0.5, 0.5};
    }
    return {std::clamp((at.x() - area.x()) / area.width(), 0.0, 1.0),
            std::clamp((at.y() - area.y()) / area.height(), 0.0, 1.0)};
}

QPointF ZoomGestures::pointerOrMiddle() const {
    const QPoint pointer = m_target->mapFromGlobal(QCursor::pos());
    return m_target->rect().contains(pointer) ? fractionOf(pointer) : QPointF(0.5, 0.5);
}

bool ZoomGestures::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_target) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            if (!(wheel->modifiers() & Qt::ControlModifier)) {
                return false;
            }
            const double notches = wheel->angleDelta().y() / kWheelNotch;
            m_handlers.zoomAt(std::pow(m_stepPerNotch, notches), fractionOf(wheel->position()));
            return true;
        }
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (!m_handlers.zoomed() || mouse->button() != Qt::LeftButton) {
                return false;
            }
            m_dragFrom = mouse->position();
            m_dragged = false;
            m_target->setCursor(Qt::ClosedHandCursor);
            return true;
        }
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (!m_dragFrom) {
                return false;
            }
            const QPointF moved = mouse->position() - *m_dragFrom;
            m_dragged = m_dragged || moved.manhattanLength() >= QApplication::startDragDistance();
            const QRectF area = m_handlers.pictureArea();
            if (m_dragged && area.width() > 0 && area.height() > 0) {
                m_handlers.pan(moved.x() / area.width(), moved.y() / area.height());
                m_dragFrom = mouse->position();
            }
            return true;
        }
        case QEvent::MouseButtonRelease: {
            if (!m_dragFrom) {
                return false;
            }
            m_dragFrom.reset();
            m_target->setCursor(m_handlers.zoomed() ? Qt::OpenHandCursor : Qt::ArrowCursor);
            if (!m_dragged && m_handlers.tap) {
                m_handlers.tap();
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace krt
