#include "video/ui/video_window_container.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "common/ui/qt_text.h"
#include "video/ui/video_title_bar.h"
#include "video/ui/video_window.h"

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
      m_focusFrame(new TileFocusFrame(this)) {
    // The picture area passes its taps on to the tile; the title bar keeps its own.
    m_titleBar->setAttribute(Qt::WA_NoMousePropagation);
    resizeChildren(0, 0);
    connect(m_videoWindow, &VideoWindow::statusChanged, this, &VideoWindowContainer::showStatus);
}

void VideoWindowContainer::resizeChildren(int width, int height) {
    m_titleBar->setGeometry(0, 0, width, VideoTitleBar::kHeight);
    m_videoWindow->setGeometry(0, VideoTitleBar::kHeight, width,
                               std::max(height - VideoTitleBar::kHeight, 0));
}

void VideoWindowContainer::setChannel(const VideoChannel* channel) {
    m_videoWindow->setChannel(channel);
    m_titleBar->setChannel(channel);
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
