#include "video/ui/press_button.h"

#include <QMouseEvent>
#include <QPainter>

namespace krt {

PictureButton::PictureButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {}

void PictureButton::setBitmap(const QPixmap& bitmap) {
    m_bitmap = bitmap;
    update();
}

void PictureButton::paintEvent(QPaintEvent* event) {
    if (m_bitmap.isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(rect(), m_bitmap);
}

PressButton::PressButton(int controlId, const QString& caption, QWidget* parent)
    : PictureButton(caption, parent), m_controlId(controlId) {}

void PressButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        report(Kind::Pressed);
    }
    PictureButton::mousePressEvent(event);
}

void PressButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        report(Kind::Released);
    }
    PictureButton::mouseReleaseEvent(event);
}

void PressButton::report(Kind kind) {
    if (!m_callback) {
        return;
    }
    // A failing command must not leave the button stuck half pressed.
    try {
        m_callback(m_controlId, this, kind);
    } catch (...) {
        qDebug("kmPressUpDownButton: the press/release callback failed");
    }
}

}  // namespace krt
