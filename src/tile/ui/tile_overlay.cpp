#include "tile/ui/tile_overlay.h"

#include <QPainter>

namespace krt {
namespace {

constexpr int kMargin = 6;
constexpr int kDot = 10;
const QColor kRecordingRed(220, 20, 20);
const QColor kShade(0, 0, 0, 150);

}  // namespace

TileOverlay::TileOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(kNotice_ms);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        m_notice.clear();
        update();
    });
}

void TileOverlay::setRecordingTime(std::optional<int> seconds) {
    if (seconds != m_recordingSeconds) {
        m_recordingSeconds = seconds;
        update();
    }
}

void TileOverlay::setZoom(std::optional<ZoomRegion> region) {
    m_zoom = region;
    update();
}

void TileOverlay::showNotice(const QString& text) {
    m_notice = text;
    m_noticeTimer.start();
    raise();
    update();
}

QString TileOverlay::recordingText() const {
    if (!m_recordingSeconds) {
        return {};
    }
    const int seconds = *m_recordingSeconds;
    return seconds >= 3600 ? QStringLiteral("REC %1:%2:%3")
                                 .arg(seconds / 3600)
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("REC %1:%2")
                                 .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void TileOverlay::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics = fontMetrics();
    if (m_recordingSeconds) {
        const QString text = recordingText();
        const QRect band(kMargin, kMargin, kDot + 3 * kMargin / 2 + metrics.horizontalAdvance(text),
                         std::max(metrics.height(), kDot) + 4);
        painter.fillRect(band, kShade);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kRecordingRed);
        painter.drawEllipse(QRect(band.x() + 3, band.center().y() - kDot / 2, kDot, kDot));
        painter.setPen(Qt::white);
        painter.drawText(band.adjusted(kDot + kMargin, 0, 0, 0), Qt::AlignVCenter, text);
    }
    const int noticeHeight = m_notice.isEmpty() ? 0 : metrics.height() + 6;
    if (m_zoom) {
        // Above the notice, when one shows.
        const OverviewMark mark = overviewMark(*m_zoom, width(), height() - noticeHeight);
        const QRect whole(mark.whole.x, mark.whole.y, mark.whole.width, mark.whole.height);
        painter.fillRect(whole, kShade);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(whole.adjusted(0, 0, -1, -1));
        painter.setPen(QPen(QColor(255, 210, 0), 2));
        painter.drawRect(
            QRect(mark.visible.x, mark.visible.y, mark.visible.width, mark.visible.height)
                .adjusted(1, 1, -1, -1));
    }
    if (noticeHeight > 0) {
        const QRect band(0, height() - noticeHeight, width(), noticeHeight);
        painter.fillRect(band, kShade);
        painter.setPen(Qt::white);
        painter.drawText(band.adjusted(kMargin, 0, -kMargin, 0), Qt::AlignVCenter,
                         metrics.elidedText(m_notice, Qt::ElideMiddle, width() - 2 * kMargin));
    }
}

}  // namespace krt
