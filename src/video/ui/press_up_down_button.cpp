#include "video/ui/press_up_down_button.h"

#include <QMouseEvent>
#include <QPainter>

namespace krt {

DWinCEImageButton::DWinCEImageButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {}

void DWinCEImageButton::setBitmap(const QPixmap& bitmap) {
    m_bitmap = bitmap;
    update();
}

void DWinCEImageButton::paintEvent(QPaintEvent* event) {
    if (m_bitmap.isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(rect(), m_bitmap);
}

kmPressUpDownButton::kmPressUpDownButton(int controlId, const QString& caption, QWidget* parent)
    : DWinCEImageButton(caption, parent), m_controlId(controlId) {}

void kmPressUpDownButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        report(Kind::Pressed);
    }
    DWinCEImageButton::mousePressEvent(event);
}

void kmPressUpDownButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        report(Kind::Released);
    }
    DWinCEImageButton::mouseReleaseEvent(event);
}

void kmPressUpDownButton::report(Kind kind) {
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
