#include "tile/ui/video_title_bar.h"

#include <QPainter>

#include "common/ui/qt_text.h"

namespace krt {
namespace {

const QColor kBackground(200, 200, 200);
const QColor kFramedBackground(0, 90, 200);
constexpr int kMarkDiameter = 9;

QColor markColour(TileMark mark) {
    switch (mark) {
        case TileMark::Connecting:
            return {230, 160, 0};
        case TileMark::Playing:
            return {0, 170, 0};
        case TileMark::NoVideo:
            return {210, 0, 0};
        case TileMark::None:
            break;
    }
    return {};
}

QFont titleFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(true);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

VideoTitleBar::VideoTitleBar(QWidget* parent) : QWidget(parent) {
    setFont(titleFont());
}

void VideoTitleBar::setChannel(const VideoChannel* channel) {
    m_channel = channel != nullptr ? std::optional(*channel) : std::nullopt;
    m_texts = titleTexts(channel);
}

QString VideoTitleBar::shownText() const {
    const std::string& names = m_bigView ? m_texts.longText : m_texts.shortText;
    return qtServerText(m_serverName.empty() || names.empty() ? names
                                                              : m_serverName + " \u00b7 " + names);
}

void VideoTitleBar::setMark(TileMark mark) {
    if (mark != m_mark) {
        m_mark = mark;
        update();
    }
}

void VideoTitleBar::setFramed(bool framed) {
    if (framed != m_framed) {
        m_framed = framed;
        update();
    }
}

void VideoTitleBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), m_framed ? kFramedBackground : kBackground);
    painter.setPen(m_framed ? Qt::white : Qt::black);
    const int markRoom = m_mark == TileMark::None ? 0 : kMarkDiameter + 6;
    painter.drawText(rect().adjusted(0, 0, -markRoom, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shownText());
    if (m_mark != TileMark::None) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(markColour(m_mark));
        painter.drawEllipse(width() - kMarkDiameter - 3, (height() - kMarkDiameter) / 2,
                            kMarkDiameter, kMarkDiameter);
    }
}

}  // namespace krt
