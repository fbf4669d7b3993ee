#include "video/ui/video_title_bar.h"

#include <QPainter>

namespace krt {
namespace {

const QColor kBackground(200, 200, 200);

QFont titleFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(true);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

DVideoTitleBar::DVideoTitleBar(QWidget* parent) : QWidget(parent) {
    setFont(titleFont());
}

void DVideoTitleBar::setChannel(const VideoChannel* channel) {
    m_channel = channel != nullptr ? std::optional(*channel) : std::nullopt;
    m_texts = titleTexts(channel);
}

const std::string& DVideoTitleBar::shownText() const {
    return m_bigView ? m_texts.longText : m_texts.shortText;
}

void DVideoTitleBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setPen(Qt::black);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     QString::fromStdString(shownText()));
}

}  // namespace krt
