#include "tile/ui/video_window_container.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

#include "common/server_text.h"
#include "common/ui/qt_text.h"
#include "protocol/diag_log.h"
#include "tile/ui/tile_evidence.h"
#include "tile/ui/tile_overlay.h"
#include "tile/ui/tile_zoom.h"
#include "tile/ui/video_title_bar.h"
#include "tile/ui/video_window.h"

namespace krt {
namespace {

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
      m_evidence(new TileEvidence(m_videoWindow, m_overlay)),
      m_zoom(new TileZoom(m_videoWindow, m_overlay, [this] { emit videoTap(this); })) {
    // The picture area passes its taps on to the tile; the title bar keeps its own.
    m_titleBar->setAttribute(Qt::WA_NoMousePropagation);
    resizeChildren(0, 0);
    m_evidence->recordButton()->hide();
    connect(m_videoWindow, &VideoWindow::statusChanged, this, &VideoWindowContainer::showStatus);
}

void VideoWindowContainer::resizeChildren(int width, int height) {
    m_titleBar->setGeometry(0, 0, width, VideoTitleBar::kHeight);
    m_videoWindow->setGeometry(0, VideoTitleBar::kHeight, width,
                               std::max(height - VideoTitleBar::kHeight, 0));
}

void VideoWindowContainer::setChannel(const VideoChannel* channel, const AppState* server) {
    m_zoom->reset();
    m_videoWindow->setChannel(channel, server);
    // Nothing to record without a camera.
    m_evidence->recordButton()->setVisible(channel != nullptr);
    m_titleBar->setChannel(channel);
}

void VideoWindowContainer::setServerName(const std::string& name) {
    m_titleBar->setServerName(name);
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

const TileStatus& VideoWindowContainer::status() const {
    return m_videoWindow->status();
}

void VideoWindowContainer::showStatus() {
    const TileStatus& status = m_videoWindow->status();
    m_titleBar->setMark(status.mark);
    setToolTip(qtText(status.toolTip));
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

bool VideoWindowContainer::applyKeyAction(VideoKeyAction action) {
    switch (action) {
        case VideoKeyAction::SaveSnapshot:
            m_evidence->saveSnapshot();
            return true;
        case VideoKeyAction::ToggleRecording:
            m_evidence->toggleRecording();
            return true;
        case VideoKeyAction::ZoomIn:
            m_zoom->zoomIn();
            return true;
        case VideoKeyAction::ZoomOut:
            m_zoom->zoomOut();
            return true;
        case VideoKeyAction::ResetZoom:
            m_zoom->reset();
            return true;
        default:
            return false;
    }
}

void VideoWindowContainer::contextMenuEvent(QContextMenuEvent* event) {
    // A tile without a camera has nothing to keep: its owner's menu, if any, shows instead.
    if (getChannelId().empty()) {
        event->ignore();
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
    emit contextMenuFilled(&menu);
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

void logTileFrames(std::span<VideoWindowContainer* const> tiles) {
    std::string line = "frames received/decoded/painted:";
    for (const VideoWindowContainer* tile : tiles) {
        const VideoWindow* window = tile->videoWindow();
        if (tile->isVisible() && !tile->getChannelId().empty()) {
            line += " " + shownServerText(tile->getChannelId()) + "=" +
                    std::to_string(window->framesReceived()) + "/" +
                    std::to_string(window->framesDrawn()) + "/" +
                    std::to_string(window->framesPainted());
        }
    }
    writeLog("DVideoPage", "logTileFrames", line.c_str());
}

}  // namespace krt
