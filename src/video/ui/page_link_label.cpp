#include "video/ui/page_link_label.h"

#include <QMouseEvent>

#include "protocol/xml_message.h"

namespace krt {

PageLinkLabel::PageLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);
    setColour(m_textColour);
}

void PageLinkLabel::setColour(Rgb colour) {
    m_textColour = colour;
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor(colour.red, colour.green, colour.blue));
    setPalette(colours);
}

void PageLinkLabel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && m_linkEnabled) {
        emit gotoPage(parseLeadingInt(text().toStdString()));
    }
}

// The toolkit reports the pointer entering and leaving, so no capture is needed to notice it.
void PageLinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    m_hovering = true;
    update();
}

void PageLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    m_hovering = false;
    update();
}

}  // namespace krt
