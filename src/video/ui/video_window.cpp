#include "video/ui/video_window.h"

#include <QPainter>
#include <QResizeEvent>
#include <chrono>
#include <ctime>

#include "video/connection_text.h"

namespace krt {
namespace {

const QColor kBackground(200, 200, 200);
constexpr int kConnectThreadGrace_ms = 10000;
constexpr int kDestructionGrace_ms = 2500;

std::int64_t calendarSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

VideoWindow::VideoWindow(const AppState& app, QWidget* parent) : QWidget(parent), m_app(app) {
    m_repaintTimer.setSingleShot(true);
    m_repaintTimer.setInterval(kRepaintDelay_ms);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { update(); });
    m_watchdog.setInterval(kWatchdogPeriod_ms);
    connect(&m_watchdog, &QTimer::timeout, this, &VideoWindow::onWatchdog);
    m_stream.setFrameCallback([this](const LiveFrame& frame) { onFrame(frame); });
    // A connection that ends ends its clip; the next connection's frames start another.
    m_stream.setEndCallback([this] {
        if (const std::shared_ptr<ClipRecorder> recording = this->recording()) {
            recording->onStreamEnded();
        }
    });
}

VideoWindow::~VideoWindow() {
    m_connectCancelled.store(true);
    m_stream.disconnectFromCamera();
    endConnectThread(kDestructionGrace_ms, "DVideoWindow::~DVideoWindow()");
}

void VideoWindow::setChannel(const VideoChannel* channel) {
    if (channel == nullptr) {
        m_state.store(VideoState::VideoIdle);
    }
    {
        std::lock_guard lock(m_channelMutex);
        m_channel = channel != nullptr ? std::optional(*channel) : std::nullopt;
    }
    // The last picture and frame belong to the previous channel.
    m_newestFrame.clear();
    std::lock_guard lock(m_pictureMutex);
    m_newestImage = QImage();
    m_shownPlacement.reset();
}

void VideoWindow::setBigView(bool bigView) {
    m_bigView.store(bigView);
    m_stream.setMediumResolution(bigView);
}

std::string VideoWindow::getChannelId() const {
    const std::optional<VideoChannel> channel = channelCopy();
    return channel ? channel->ChannelID : std::string();
}

std::optional<VideoChannel> VideoWindow::channelCopy() const {
    std::lock_guard lock(m_channelMutex);
    return m_channel;
}

void VideoWindow::startConnect() {
    if (const std::optional<VideoChannel> channel = channelCopy()) {
        endConnectThread(kConnectThreadGrace_ms, "DVideoWindow::startConnect()");
        m_connectCancelled.store(false);
        // The thread formats its own copy: a later setChannel cannot change it under it.
        std::string text =
            formatConnectionText(m_app.m_serverAddress, channel->ChannelID, m_app.m_serverPort);
        m_connectThread =
            WorkerThread([this, text = std::move(text)] { connectToVideoThread(text); });
        m_state.store(VideoState::VideoConnecting);
    }
    update();
}

void VideoWindow::stopVideo() {
    m_state.store(VideoState::VideoIdle);
    m_watchdog.stop();
    m_connectCancelled.store(true);
    // Disconnecting first also breaks off a connect under way, so the thread ends soon.
    m_stream.disconnectFromCamera();
    endConnectThread(kConnectThreadGrace_ms, "DVideoWindow::stopVideo()");
    // A frame that came in while stopping must not leave the tile playing.
    m_state.store(VideoState::VideoIdle);
}

void VideoWindow::endConnectThread(int grace_ms, const char* caller) {
    if (endThread(m_connectThread, grace_ms, caller, "connectToVideoThread",
                  [this] { m_stream.disconnectFromCamera(); }) &&
        m_connectCancelled.load()) {
        // The thread may have connected between the first disconnect and its end.
        m_stream.disconnectFromCamera();
    }
}

void VideoWindow::connectToVideoThread(const std::string& connectionText) {
    QMetaObject::invokeMethod(
        this, [this] { m_watchdog.stop(); }, Qt::QueuedConnection);
    m_stream.disconnectFromCamera();
    if (m_connectCancelled.load()) {
        return;
    }
    m_nextGridDraw_ms.store(0);
    m_streamFrames.store(0);
    m_streamFrameShown.store(0);
    m_connectInProgress.store(true);
    m_stream.connectToCamera(connectionText);
    m_connectInProgress.store(false);
    armWatchdog();
}

void VideoWindow::setRecording(std::shared_ptr<ClipRecorder> recording) {
    std::lock_guard lock(m_evidenceMutex);
    m_recording = std::move(recording);
}

std::shared_ptr<ClipRecorder> VideoWindow::recording() const {
    std::lock_guard lock(m_evidenceMutex);
    return m_recording;
}

void VideoWindow::setZoomRegion(const ZoomRegion& region) {
    {
        std::lock_guard lock(m_evidenceMutex);
        m_zoomRegion = region;
    }
    m_nextGridDraw_ms.store(0);
    update();
}

ZoomRegion VideoWindow::zoomRegion() const {
    std::lock_guard lock(m_evidenceMutex);
    return m_zoomRegion;
}

void VideoWindow::onFrame(const LiveFrame& frame) {
    // Every frame is evidence, whether or not it is drawn or decodes.
    m_newestFrame.keep(frame);
    if (const std::shared_ptr<ClipRecorder> recording = this->recording()) {
        recording->onFrame(frame);
    }
    m_lastFrameTime.store(calendarSeconds());
    m_framesReceived.fetch_add(1);
    const long frameNumber = m_streamFrames.fetch_add(1) + 1;
    if (m_state.exchange(VideoState::VideoPlaying) != VideoState::VideoPlaying) {
        armRepaint();
    }
    // Every frame is read as it comes, so none waits in the connection; only the newest is
    // decoded, and in the grid only one per throttle period.
    const std::int64_t now_ms = steadyMilliseconds();
    if (!frameIsDrawn(drawsEveryFrame(), frame.newerFrameWaiting(), now_ms,
                      m_nextGridDraw_ms.load())) {
        return;
    }
    const std::optional<VideoChannel> channel = channelCopy();
    if (!channel || frame.length() <= 0 || !channel->DetailsLoaded) {
        return;
    }
    m_nextGridDraw_ms.store(now_ms + kGridThrottle_ms);
    armWatchdog();
    if (drawFrame(frame, *channel)) {
        m_streamFrameShown.store(frameNumber);
    }
    // Counted once the draw is over, so that whoever sees the count also sees what it showed.
    m_framesDrawn.fetch_add(1);
}

bool VideoWindow::drawFrame(const LiveFrame& frame, const VideoChannel& channel) {
    const std::optional<Rect> placement =
        picturePlacement(m_areaWidth.load(), m_areaHeight.load(), channel);
    if (placement != m_placement) {
        m_placement = placement;
        armRepaint();
    }
    if (!placement || placement->width <= 0 || placement->height <= 0 ||
        !m_decoder.decode(frame.payload(), {placement->width, placement->height}, m_decoding)) {
        return false;
    }
    {
        std::lock_guard lock(m_pictureMutex);
        // The buffers trade places: the GUI thread gets this picture without a copy.
        m_newest.pixels.swap(m_decoding.pixels);
        m_newest.size = m_decoding.size;
        m_newestImage = QImage(m_newest.pixels.data(), m_newest.size.width, m_newest.size.height,
                               m_newest.bytesPerLine(), QImage::Format_RGB32);
        m_shownPlacement = placement;
        m_shownRegion = ZoomRegion{};
        ++m_pictureNumber;
    }
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
    return true;
}

void VideoWindow::armRepaint() {
    QMetaObject::invokeMethod(
        this, [this] { m_repaintTimer.start(); }, Qt::QueuedConnection);
}

void VideoWindow::armWatchdog() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            // A stopped tile stays stopped, whatever its threads asked for before.
            if (m_state.load() != VideoState::VideoIdle) {
                m_watchdog.start();
            }
        },
        Qt::QueuedConnection);
}

void VideoWindow::onWatchdog() {
    if (m_state.load() == VideoState::VideoIdle ||
        !watchdogShouldReconnect(calendarSeconds(), m_lastFrameTime.load(),
                                 m_connectInProgress.load())) {
        return;
    }
    m_state.store(VideoState::VideoConnecting);
    ++m_watchdogReconnects;
    startConnect();
    update();
}

std::optional<Rect> VideoWindow::picturePlacementShown() const {
    std::lock_guard lock(m_pictureMutex);
    return m_shownPlacement;
}

QImage VideoWindow::newestPicture() const {
    std::lock_guard lock(m_pictureMutex);
    return m_newestImage.copy();
}

QString VideoWindow::windowText() const {
    const std::string_view text = videoWindowText(m_state.load(), channelCopy().has_value());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void VideoWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    if (m_state.load() == VideoState::VideoPlaying) {
        // Where the picture goes at the window's size now: after a resize the last picture is
        // stretched to it until the next one comes at that size.
        const std::optional<VideoChannel> channel = channelCopy();
        const std::optional<Rect> place =
            channel ? picturePlacement(width(), height(), *channel) : std::nullopt;
        const ZoomRegion shown = zoomRegion();
        std::lock_guard lock(m_pictureMutex);
        if (!m_newestImage.isNull() && place) {
            const Rect target = placeInView(m_shownRegion, shown, *place);
            painter.setClipRect(QRect(place->x, place->y, place->width, place->height));
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(target.x, target.y, target.width, target.height),
                              m_newestImage);
            if (m_paintedPictureNumber != m_pictureNumber) {
                m_paintedPictureNumber = m_pictureNumber;
                ++m_framesPainted;
            }
        }
        return;
    }
    painter.setPen(Qt::black);
    painter.drawText(rect().adjusted(10, 10, 0, 0), Qt::AlignLeft | Qt::AlignTop, windowText());
}

void VideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_areaWidth.store(event->size().width());
    m_areaHeight.store(event->size().height());
    // The next frame is drawn at the new size at once, also in the grid.
    m_nextGridDraw_ms.store(0);
    update();
}

void VideoWindow::closeEvent(QCloseEvent* event) {
    m_stream.disconnectFromCamera();
    QWidget::closeEvent(event);
}

}  // namespace krt
