#include "video/ui/video_window_container.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>
#include <ctime>

#include "video/ui/tile_evidence.h"
#include "video/ui/tile_overlay.h"
#include "video/ui/tile_zoom.h"
#include "video/ui/video_title_bar.h"
#include "video/ui/video_window.h"

namespace krt {
namespace {

constexpr int kStatusPeriod_ms = 1000;

// A frame drawn over the whole tile, above the picture, that lets every click through.
class TileFocusFrame : public QWidget {
  public:
    explicit TileFocusFrame(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        constexpr int kPenWidth = 3;
        QPainter painter(this);
        painter.setPen(QPen(QColor(0, 90, 200), kPenWidth));
        painter.drawRect(rect().adjusted(1, 1, -2, -2));
    }
};

}  // namespace

VideoWindowContainer::VideoWindowContainer(const AppState& app, int baseId, QWidget* parent)
    : QWidget(parent),
      m_baseId(baseId),
      m_videoWindow(new VideoWindow(app, this)),
      m_titleBar(new VideoTitleBar(this)),
      m_focusFrame(new TileFocusFrame(this)),
      m_overlay(new TileOverlay(m_videoWindow)),
      m_evidence(new TileEvidence(app, m_videoWindow, m_overlay)),
      m_zoom(new TileZoom(m_videoWindow, m_overlay, [this] { emit videoTap(this); })) {
    // The picture area passes its taps on to the tile; the title bar keeps its own.
    m_titleBar->setAttribute(Qt::WA_NoMousePropagation);
    resizeChildren(0, 0);
    m_evidence->recordButton()->hide();
    m_statusTimer.setInterval(kStatusPeriod_ms);
    connect(&m_statusTimer, &QTimer::timeout, this, &VideoWindowContainer::refreshStatus);
    m_statusTimer.start();
    m_sinceLastPoll.start();
}

void VideoWindowContainer::resizeChildren(int width, int height) {
    m_titleBar->setGeometry(0, 0, width, VideoTitleBar::kHeight);
    m_videoWindow->setGeometry(0, VideoTitleBar::kHeight, width,
                               std::max(height - VideoTitleBar::kHeight, 0));
}

void VideoWindowContainer::setChannel(const VideoChannel* channel) {
    m_zoom->reset();
    m_videoWindow->setChannel(channel);
    // Nothing to record without a camera.
    m_evidence->recordButton()->setVisible(channel != nullptr);
    m_titleBar->setChannel(channel);
    // A new channel has shown nothing yet.
    m_lastFrameSeen_s = 0;
    m_polledFrames = m_videoWindow->framesReceived();
    refreshStatus();
}

void VideoWindowContainer::setLiveGrid(bool liveGrid) {
    m_videoWindow->setLiveGrid(liveGrid);
}

void VideoWindowContainer::setFramed(bool framed) {
    m_titleBar->setFramed(framed);
    m_focusFrame->setVisible(framed);
    m_focusFrame->raise();
}

bool VideoWindowContainer::framed() const {
    return m_titleBar->framed();
}

void VideoWindowContainer::refreshStatus() {
    const int frames = m_videoWindow->framesReceived();
    const std::int64_t now_s = static_cast<std::int64_t>(std::time(nullptr));
    if (frames != m_polledFrames) {
        m_lastFrameSeen_s = now_s;
    }
    TileStatusInput input;
    input.state = m_videoWindow->state();
    input.hasChannel = !m_videoWindow->getChannelId().empty();
    input.framesPerSecond = framesPerSecond(m_polledFrames, frames, m_sinceLastPoll.restart());
    input.lastFrameTime_s = m_lastFrameSeen_s;
    input.now_s = now_s;
    input.watchdogReconnects = m_videoWindow->watchdogReconnects();
    m_polledFrames = frames;
    m_status = tileStatus(input);
    m_titleBar->setMark(m_status.mark);
    setToolTip(QString::fromStdString(m_status.toolTip));
}

void VideoWindowContainer::setBigView(bool bigView) {
    m_videoWindow->setBigView(bigView);
    m_titleBar->setBigView(bigView);
}

void VideoWindowContainer::pauseVideo() {
    m_videoWindow->pauseVideo();
}

std::string VideoWindowContainer::getChannelId() const {
    return m_videoWindow->getChannelId();
}

void VideoWindowContainer::startConnect() {
    m_videoWindow->startConnect();
}

void VideoWindowContainer::stopVideo() {
    m_videoWindow->stopVideo();
}

void VideoWindowContainer::contextMenuEvent(QContextMenuEvent* event) {
    if (getChannelId().empty()) {
        return;
    }
    QMenu menu(this);
    menu.addAction(QStringLiteral("Save Snapshot\tS"), m_evidence, &TileEvidence::saveSnapshot);
    QAction* record =
        menu.addAction(QStringLiteral("Record\tR"), m_evidence, &TileEvidence::toggleRecording);
    record->setCheckable(true);
    record->setChecked(m_evidence->recording());
    menu.addSeparator();
    menu.addAction(QStringLiteral("Zoom In\tCtrl++"), m_zoom, &TileZoom::zoomIn)
        ->setEnabled(m_zoom->zoom().factor() < DigitalZoom::kMaxFactor);
    menu.addAction(QStringLiteral("Zoom Out\tCtrl+-"), m_zoom, &TileZoom::zoomOut)
        ->setEnabled(m_zoom->zoom().zoomed());
    menu.addAction(QStringLiteral("Whole Picture\tCtrl+0"), m_zoom, &TileZoom::reset)
        ->setEnabled(m_zoom->zoom().zoomed());
    menu.exec(event->globalPos());
}

void VideoWindowContainer::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit videoTap(this);
    }
}

void VideoWindowContainer::mouseDoubleClickEvent(QMouseEvent* event) {
    // Not a second tap: the page decides what a double tap does.
    if (event->button() == Qt::LeftButton) {
        emit videoDoubleTap(this);
    }
}

void VideoWindowContainer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_focusFrame->setGeometry(rect());
}

}  // namespace krt
