#include "tile/ui/video_window.h"

#include <QPainter>
#include <QResizeEvent>
#include <chrono>
#include <ctime>

#include "common/ui/qt_text.h"
#include "protocol/diag_log.h"
#include "stream/connection_text.h"

namespace krt {
namespace {

const QColor kBackground(200, 200, 200);
const QColor kCaptionBand(0, 0, 0, 170);
constexpr double kStaleOpacity = 0.45;
constexpr int kCaptionMargin = 4;
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

StreamLoss lossOf(StreamResult result) {
    return result == StreamResult::ConnectFailed ? StreamLoss::Unreachable : StreamLoss::Refused;
}

}  // namespace

VideoWindow::VideoWindow(const AppState& app, QWidget* parent) : QWidget(parent), m_app(app) {
    m_repaintTimer.setSingleShot(true);
    m_repaintTimer.setInterval(kRepaintDelay_ms);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { update(); });
    m_watchdog.setInterval(kWatchdogPeriod_ms);
    connect(&m_watchdog, &QTimer::timeout, this, &VideoWindow::onWatchdog);
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        m_reconnect.connecting = true;
        startConnect();
        refreshStatus();
    });
    m_statusTimer.setInterval(kStatusPeriod_ms);
    connect(&m_statusTimer, &QTimer::timeout, this, &VideoWindow::refreshStatus);
    m_statusTimer.start();
    m_stream.setFrameCallback([this](const LiveFrame& frame) { onFrame(frame); });
    m_stream.setEndCallback([this](StreamEnd end) {
        endClip();
        const std::uint64_t number = m_streamNumber.load();
        QMetaObject::invokeMethod(
            this, [this, number, end] { onStreamEnded(number, end); }, Qt::QueuedConnection);
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
    // The last picture and frame, their time and the reconnecting belong to the previous
    // channel.
    m_newestFrame.clear();
    ++m_connectNumber;
    m_lastFrame_ms.store(0);
    m_reconnectTimer.stop();
    m_reconnect = {};
    m_failuresInARow = 0;
    {
        std::lock_guard lock(m_pictureMutex);
        m_newestImage = QImage();
        m_shownPlacement.reset();
    }
    refreshStatus();
}

void VideoWindow::setBigView(bool bigView) {
    m_bigView.store(bigView);
    m_stream.setMediumResolution(
        wantsMediumStream(bigView, zoomRegion(), false, m_pictureWidth.load(), m_areaWidth.load()));
}

void VideoWindow::chooseStream() {
    const std::optional<VideoChannel> channel = channelCopy();
    const std::optional<Rect> drawn =
        channel ? picturePlacement(m_areaWidth.load(), m_areaHeight.load(), *channel)
                : std::nullopt;
    const bool medium =
        wantsMediumStream(m_bigView.load(), zoomRegion(), m_stream.mediumResolution(),
                          m_pictureWidth.load(), drawn ? drawn->width : 0);
    // A recording keeps its stream: its clip goes on in one file.
    if (medium == m_stream.mediumResolution() || recording()) {
        return;
    }
    m_stream.setMediumResolution(medium);
    if (m_state.load() != VideoState::VideoIdle) {
        startConnect();
    }
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
        m_reconnectTimer.stop();
        m_reconnect.nextAttempt_ms.reset();
        endConnectThread(kConnectThreadGrace_ms, "DVideoWindow::startConnect()");
        m_connectCancelled.store(false);
        // The thread formats its own copy: a later setChannel cannot change it under it.
        std::string text =
            formatConnectionText(m_app.m_serverAddress, channel->ChannelID, m_app.m_serverPort);
        m_connectThread = WorkerThread([this, number = ++m_connectNumber, text = std::move(text)] {
            connectToVideoThread(number, text);
        });
        m_state.store(VideoState::VideoConnecting);
    }
    update();
}

void VideoWindow::stopVideo() {
    ++m_connectNumber;
    m_state.store(VideoState::VideoIdle);
    m_watchdog.stop();
    m_reconnectTimer.stop();
    m_reconnect = {};
    m_failuresInARow = 0;
    m_connectCancelled.store(true);
    // Disconnecting first also breaks off a connect under way, so the thread ends soon.
    m_stream.disconnectFromCamera();
    endConnectThread(kConnectThreadGrace_ms, "DVideoWindow::stopVideo()");
    endClip();
    // A frame that came in while stopping must not leave the tile playing.
    m_state.store(VideoState::VideoIdle);
    refreshStatus();
}

void VideoWindow::endConnectThread(int grace_ms, const char* caller) {
    if (endThread(m_connectThread, grace_ms, caller, "connectToVideoThread",
                  [this] { m_stream.disconnectFromCamera(); }) &&
        m_connectCancelled.load()) {
        // The thread may have connected between the first disconnect and its end.
        m_stream.disconnectFromCamera();
    }
}

void VideoWindow::connectToVideoThread(std::uint64_t number, const std::string& connectionText) {
    QMetaObject::invokeMethod(
        this, [this] { m_watchdog.stop(); }, Qt::QueuedConnection);
    m_stream.disconnectFromCamera();
    endClip();
    if (m_connectCancelled.load()) {
        return;
    }
    // Set once the previous stream's receive thread is over: whatever that reported carries
    // an earlier number.
    m_streamNumber.store(number);
    m_nextGridDraw_ms.store(0);
    m_streamFrames.store(0);
    m_streamFrameShown.store(0);
    m_frameSinceConnect.store(false);
    {
        std::lock_guard lock(m_intervalsMutex);
        m_intervals.restart();
    }
    m_connectInProgress.store(true);
    const StreamResult result = m_stream.connectToCamera(connectionText);
    m_connectInProgress.store(false);
    armWatchdog();
    QMetaObject::invokeMethod(
        this, [this, number, result] { onConnectFinished(number, result); }, Qt::QueuedConnection);
}

bool VideoWindow::isCurrentConnect(std::uint64_t connectNumber) const {
    return connectNumber == m_connectNumber && !m_connectCancelled.load() &&
           m_state.load() != VideoState::VideoIdle;
}

void VideoWindow::onConnectFinished(std::uint64_t connectNumber, StreamResult result) {
    if (!isCurrentConnect(connectNumber)) {
        return;
    }
    m_reconnect.connecting = false;
    if (result != StreamResult::Opened) {
        scheduleReconnect(lossOf(result));
    }
    refreshStatus();
}

void VideoWindow::onStreamEnded(std::uint64_t connectNumber, StreamEnd end) {
    // A stream that falls silent but stays open is the watchdog's.
    if (end == StreamEnd::Silent || !isCurrentConnect(connectNumber)) {
        return;
    }
    scheduleReconnect(StreamLoss::Closed);
    refreshStatus();
}

void VideoWindow::onStreamRunning(std::uint64_t connectNumber) {
    if (!isCurrentConnect(connectNumber)) {
        return;
    }
    m_failuresInARow = 0;
    m_reconnect.attempt = 0;
    m_reconnect.connecting = false;
    m_reconnect.nextAttempt_ms.reset();
    refreshStatus();
}

void VideoWindow::scheduleReconnect(StreamLoss loss) {
    ++m_failuresInARow;
    const std::chrono::milliseconds delay = reconnectDelay(m_failuresInARow, loss);
    if (m_failuresInARow == 1) {
        const std::string message = getChannelId() + ": " + std::string(streamLossText(loss));
        writeLog("KRT", "DVideoWindow::reconnect()", message.c_str());
    }
    m_reconnect.attempt = m_failuresInARow;
    m_reconnect.connecting = false;
    m_reconnect.nextAttempt_ms = steadyMilliseconds() + delay.count();
    m_reconnect.lastLoss = loss;
    m_reconnectTimer.start(delay);
    emit streamLost();
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
    chooseStream();
    update();
}

ZoomRegion VideoWindow::zoomRegion() const {
    std::lock_guard lock(m_evidenceMutex);
    return m_zoomRegion;
}

void VideoWindow::endClip() {
    if (const std::shared_ptr<ClipRecorder> recording = this->recording()) {
        recording->onStreamEnded();
    }
}

void VideoWindow::onFrame(const LiveFrame& frame) {
    // Every frame is evidence, whether or not it is drawn or decodes.
    m_newestFrame.keep(frame);
    if (const std::shared_ptr<ClipRecorder> recording = this->recording()) {
        recording->onFrame(frame);
    }
    const std::int64_t arrived_ms = steadyMilliseconds();
    m_lastFrameTime.store(calendarSeconds());
    m_lastFrame_ms.store(arrived_ms);
    {
        std::lock_guard lock(m_intervalsMutex);
        m_intervals.frameArrived(arrived_ms);
    }
    if (!m_frameSinceConnect.exchange(true)) {
        const std::uint64_t number = m_streamNumber.load();
        QMetaObject::invokeMethod(
            this, [this, number] { onStreamRunning(number); }, Qt::QueuedConnection);
    }
    m_framesReceived.fetch_add(1);
    const long frameNumber = m_streamFrames.fetch_add(1) + 1;
    if (m_state.exchange(VideoState::VideoPlaying) != VideoState::VideoPlaying) {
        armRepaint();
    }
    // Every frame is read as it comes, so none waits in the connection; only the newest is
    // decoded, and in the grid only one per throttle period.
    if (!frameIsDrawn(drawsEveryFrame(), frame.newerFrameWaiting(), arrived_ms,
                      m_nextGridDraw_ms.load())) {
        return;
    }
    const std::optional<VideoChannel> channel = channelCopy();
    if (!channel || frame.length() <= 0 || !channel->DetailsLoaded) {
        return;
    }
    m_nextGridDraw_ms.store(arrived_ms + kGridThrottle_ms);
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
    // Only the part a zoom shows is decoded, at the camera's own detail.
    const ZoomRegion part = zoomRegion();
    if (!placement || placement->width <= 0 || placement->height <= 0 ||
        !m_decoder.decode(frame.payload(), {placement->width, placement->height}, m_decoding,
                          part)) {
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
        m_shownRegion = part;
        ++m_pictureNumber;
    }
    // A zoom chosen before the first picture, or a stream of another size, may want the other
    // stream.
    const bool newWidth =
        m_pictureWidth.exchange(m_decoding.source.width) != m_decoding.source.width;
    QMetaObject::invokeMethod(
        this,
        [this, newWidth] {
            if (newWidth) {
                chooseStream();
            }
            update();
        },
        Qt::QueuedConnection);
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
    // A lost stream is being reconnected already.
    if (m_state.load() == VideoState::VideoIdle || m_reconnect.attempt > 0 ||
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

void VideoWindow::refreshStatus() {
    TileStatusInput input;
    input.state = m_state.load();
    input.hasChannel = channelCopy().has_value();
    input.now_ms = steadyMilliseconds();
    if (const std::int64_t last_ms = m_lastFrame_ms.load(); last_ms != 0) {
        input.lastFrame_ms = last_ms;
    }
    input.lastFrameCalendar_s = m_lastFrameTime.load();
    {
        std::lock_guard lock(m_intervalsMutex);
        input.frameInterval_ms = m_intervals.typical_ms();
    }
    input.reconnect = m_reconnect;
    input.watchdogReconnects = m_watchdogReconnects;
    TileStatus status = tileStatus(input);
    if (status != m_status) {
        m_status = std::move(status);
        update();
        emit statusChanged();
    }
}

const QImage& VideoWindow::stalePicture() {
    if (m_stalePictureNumber != m_pictureNumber || m_stalePicture.isNull()) {
        m_stalePicture = m_newestImage.convertToFormat(QImage::Format_Grayscale8);
        m_stalePictureNumber = m_pictureNumber;
    }
    return m_stalePicture;
}

void VideoWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const VideoState state = m_state.load();
    bool pictureShown = false;
    if (state != VideoState::VideoIdle) {
        // Where the picture goes at the window's size now: after a resize the last picture is
        // stretched to it until the next one comes at that size.
        const std::optional<VideoChannel> channel = channelCopy();
        const std::optional<Rect> place =
            channel ? picturePlacement(width(), height(), *channel) : std::nullopt;
        const ZoomRegion shown = zoomRegion();
        std::lock_guard lock(m_pictureMutex);
        if (!m_newestImage.isNull() && place) {
            const QRect area(place->x, place->y, place->width, place->height);
            // The picture holds the part it was decoded for; until one of the part shown now
            // comes, it is drawn where its part lies.
            const Rect part = placeInView(m_shownRegion, shown, *place);
            const QRect target(part.x, part.y, part.width, part.height);
            painter.setClipRect(area);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            if (m_status.stale) {
                painter.fillRect(area, Qt::black);
                painter.setOpacity(kStaleOpacity);
                painter.drawImage(target, stalePicture());
                painter.setOpacity(1.0);
            } else {
                painter.drawImage(target, m_newestImage);
            }
            pictureShown = true;
            if (m_paintedPictureNumber != m_pictureNumber) {
                m_paintedPictureNumber = m_pictureNumber;
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
    m_areaWidth.store(event->size().width());
    m_areaHeight.store(event->size().height());
    // The next frame is drawn at the new size at once, also in the grid.
    m_nextGridDraw_ms.store(0);
    chooseStream();
    update();
}

void VideoWindow::closeEvent(QCloseEvent* event) {
    m_stream.disconnectFromCamera();
    QWidget::closeEvent(event);
}

}  // namespace krt
