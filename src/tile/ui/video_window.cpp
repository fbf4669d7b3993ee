#include "tile/ui/video_window.h"

#include <QPainter>
#include <QResizeEvent>
#include <QWindow>

#include "common/ui/qt_text.h"
#include "protocol/diag_log.h"
#include "stream/connection_text.h"
#include "tile/ui/window_occlusion.h"

namespace krt {
namespace {

const QColor kBackground(200, 200, 200);
const QColor kCaptionBand(0, 0, 0, 170);
constexpr double kStaleOpacity = 0.45;
constexpr int kCaptionMargin = 4;

// The decoded pixels as an image, without a copy: valid while the picture is held.
QImage pictureImage(const FeedPicture& picture) {
    const DecodedPicture& decoded = picture.picture;
    return QImage(decoded.pixels.data(), decoded.size.width, decoded.size.height,
                  decoded.bytesPerLine(), QImage::Format_RGB32);
}

}  // namespace

VideoWindow::VideoWindow(const AppState& app, QWidget* parent)
    : QWidget(parent), m_app(app), m_server(&app) {
    m_statusTimer.setInterval(kStatusPeriod_ms);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] {
        updateShown();
        refreshStatus();
    });
    m_statusTimer.start();
    m_feed.setListener({
        .pictureReady =
            [this] {
                QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update),
                                          Qt::QueuedConnection);
            },
        .changed =
            [this] {
                QMetaObject::invokeMethod(this, &VideoWindow::onFeedChanged, Qt::QueuedConnection);
            },
    });
}

VideoWindow::~VideoWindow() {
    // Nothing of the feed reaches this tile once it is gone.
    m_feed.setListener({});
}

void VideoWindow::setChannel(const VideoChannel* channel, const AppState* server) {
    m_server = server != nullptr ? server : &m_app;
    m_feed.setCamera(
        channel != nullptr
            ? std::optional(FeedCamera{m_server->m_serverAddress, m_server->m_serverPort, *channel})
            : std::nullopt);
    refreshStatus();
    update();
}

std::string VideoWindow::getChannelId() const {
    const std::optional<VideoChannel> shown = channel();
    return shown ? shown->ChannelID : std::string();
}

void VideoWindow::startConnect() {
    m_feed.start();
    update();
}

void VideoWindow::stopVideo() {
    m_feed.stop();
    refreshStatus();
}

void VideoWindow::setZoomRegion(const ZoomRegion& region) {
    m_feed.setZoomRegion(region);
    update();
}

void VideoWindow::onFeedChanged() {
    refreshStatus();
    const int losses = m_feed.streamLosses();
    if (losses != m_streamLosses) {
        m_streamLosses = losses;
        emit streamLost();
    }
    update();
}

std::optional<Rect> VideoWindow::picturePlacementShown() const {
    const std::shared_ptr<const FeedPicture> picture = m_feed.newestPicture();
    return picture ? std::optional(picture->placement) : std::nullopt;
}

QImage VideoWindow::newestPicture() const {
    const std::shared_ptr<const FeedPicture> picture = m_feed.newestPicture();
    return picture ? pictureImage(*picture).copy() : QImage();
}

QString VideoWindow::windowText() const {
    const std::string_view text = videoWindowText(state(), channel().has_value());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void VideoWindow::refreshStatus() {
    TileStatus status = m_feed.status();
    if (status != m_status) {
        m_status = std::move(status);
        update();
        emit statusChanged();
    }
}

void VideoWindow::updateShown() {
    const QWidget* top = window();
    const QWindow* handle = top->windowHandle();
    const bool seen = isVisible() && !top->isMinimized() && handle != nullptr &&
                      handle->isExposed() && !(m_occlusion && m_occlusion->covered()) &&
                      !visibleRegion().isEmpty();
    if (seen != m_feed.shown()) {
        m_feed.setShown(seen);
        update();
    }
}

void VideoWindow::watchWindow() {
    WindowOcclusion* occlusion = WindowOcclusion::of(window());
    if (occlusion != m_occlusion) {
        if (m_occlusion) {
            disconnect(m_occlusion, nullptr, this, nullptr);
        }
        m_occlusion = occlusion;
        connect(occlusion, &WindowOcclusion::coveredChanged, this, &VideoWindow::updateShown);
    }
    QWindow* handle = window()->windowHandle();
    if (handle == m_watchedWindow) {
        return;
    }
    if (m_watchedWindow) {
        m_watchedWindow->removeEventFilter(this);
    }
    m_watchedWindow = handle;
    if (handle != nullptr) {
        handle->installEventFilter(this);
    }
}

bool VideoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_watchedWindow &&
        (event->type() == QEvent::Expose || event->type() == QEvent::WindowStateChange)) {
        // The window's exposure is updated before its event is delivered.
        updateShown();
    }
    return QWidget::eventFilter(watched, event);
}

void VideoWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    watchWindow();
    updateShown();
}

void VideoWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateShown();
}

const QImage& VideoWindow::stalePicture(const FeedPicture& picture) {
    if (m_stalePictureNumber != picture.number || m_stalePicture.isNull()) {
        m_stalePicture = pictureImage(picture).convertToFormat(QImage::Format_Grayscale8);
        m_stalePictureNumber = picture.number;
    }
    return m_stalePicture;
}

void VideoWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const VideoState state = this->state();
    bool pictureShown = false;
    const std::shared_ptr<const FeedPicture> picture = m_feed.newestPicture();
    if (state != VideoState::VideoIdle && picture) {
        // Where the picture goes at the window's size now: after a resize the last picture is
        // stretched to it until the next one comes at that size.
        const std::optional<VideoChannel> shown = channel();
        const std::optional<Rect> place =
            shown ? picturePlacement(width(), height(), *shown) : std::nullopt;
        if (place) {
            const QRect area(place->x, place->y, place->width, place->height);
            // The picture holds the part it was decoded for; until one of the part shown now
            // comes, it is drawn where its part lies.
            const Rect part = placeInView(picture->region, zoomRegion(), *place);
            const QRect target(part.x, part.y, part.width, part.height);
            painter.setClipRect(area);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            if (m_status.stale) {
                painter.fillRect(area, Qt::black);
                painter.setOpacity(kStaleOpacity);
                painter.drawImage(target, stalePicture(*picture));
                painter.setOpacity(1.0);
            } else {
                painter.drawImage(target, pictureImage(*picture));
            }
            pictureShown = true;
            if (m_paintedPictureNumber != picture->number) {
                m_paintedPictureNumber = picture->number;
                ++m_framesPainted;
            }
        }
    }
    if (!pictureShown && state != VideoState::VideoPlaying) {
        painter.setPen(Qt::black);
        painter.drawText(rect().adjusted(10, 10, 0, 0), Qt::AlignLeft | Qt::AlignTop, windowText());
    }
    paintCaption(painter, pictureShown);
}

// Over a picture, in white on a dark band across its middle; without one, in black under the
// window text.
void VideoWindow::paintCaption(QPainter& painter, bool overPicture) {
    if (m_status.caption.empty()) {
        return;
    }
    const QString caption = qtText(m_status.caption);
    const int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap;
    if (!overPicture) {
        painter.setPen(Qt::black);
        const int top = 10 + painter.fontMetrics().lineSpacing();
        painter.drawText(rect().adjusted(10, top, -10, 0),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, caption);
        return;
    }
    const QRect room = rect().adjusted(kCaptionMargin, 0, -kCaptionMargin, 0);
    QRect text = painter.fontMetrics().boundingRect(room, flags, caption);
    text = text.adjusted(-kCaptionMargin, -kCaptionMargin, kCaptionMargin, kCaptionMargin);
    painter.fillRect(QRect(0, text.y(), width(), text.height()), kCaptionBand);
    painter.setPen(Qt::white);
    painter.drawText(room, flags, caption);
}

void VideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The next frame is drawn at the new size at once, also in the grid.
    m_feed.setArea(event->size().width(), event->size().height());
    updateShown();
    update();
}

}  // namespace krt
