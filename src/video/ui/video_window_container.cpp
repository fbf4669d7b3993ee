#include "video/ui/video_window_container.h"

#include <QMouseEvent>
#include <algorithm>

#include "video/ui/video_title_bar.h"
#include "video/ui/video_window.h"

namespace krt {

DVideoWindowContainer::DVideoWindowContainer(const KRTApp& app, int baseId, QWidget* parent)
    : QWidget(parent),
      m_baseId(baseId),
      m_videoWindow(new DVideoWindow(app, this)),
      m_titleBar(new DVideoTitleBar(this)) {
    // The picture area passes its taps on to the tile; the title bar keeps its own.
    m_titleBar->setAttribute(Qt::WA_NoMousePropagation);
    resizeChildren(0, 0);
}

void DVideoWindowContainer::resizeChildren(int width, int height) {
    m_titleBar->setGeometry(0, 0, width, DVideoTitleBar::kHeight);
    m_videoWindow->setGeometry(0, DVideoTitleBar::kHeight, width,
                               std::max(height - DVideoTitleBar::kHeight, 0));
}

void DVideoWindowContainer::setChannel(const VideoChannel* channel) {
    m_videoWindow->setChannel(channel);
    m_titleBar->setChannel(channel);
}

void DVideoWindowContainer::setBigView(bool bigView) {
    m_videoWindow->setBigView(bigView);
    m_titleBar->setBigView(bigView);
}

void DVideoWindowContainer::pauseVideo() {
    m_videoWindow->pauseVideo();
}

std::string DVideoWindowContainer::getChannelId() const {
    return m_videoWindow->getChannelId();
}

void DVideoWindowContainer::startConnect() {
    m_videoWindow->startConnect();
}

void DVideoWindowContainer::stopVideo() {
    m_videoWindow->stopVideo();
}

void DVideoWindowContainer::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit videoTap(this);
    }
}

}  // namespace krt
