#include "tile/tile_feed.h"

#include <ctime>

#include "common/server_text.h"
#include "protocol/diag_log.h"
#include "stream/connection_text.h"
#include "tile/video_window_logic.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
// A stop waits this long for a connect under way to give up; the connect is woken meanwhile.
constexpr auto kConnectGiveUp = std::chrono::milliseconds(10'000);
constexpr auto kConnectWakeStep = std::chrono::milliseconds(100);
constexpr int kThreadGrace_ms = 2500;

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

StreamLoss lossOf(StreamResult result) {
    return result == StreamResult::ConnectFailed ? StreamLoss::Unreachable : StreamLoss::Refused;
}

}  // namespace

std::unique_ptr<FeedPicture> TileFeed::PicturePool::take() {
    std::lock_guard lock(m_mutex);
    if (m_free.empty()) {
        return std::make_unique<FeedPicture>();
    }
    std::unique_ptr<FeedPicture> picture = std::move(m_free.back());
    m_free.pop_back();
    return picture;
}

void TileFeed::PicturePool::give(std::unique_ptr<FeedPicture> picture) {
    std::lock_guard lock(m_mutex);
    if (m_free.size() < kKept) {
        m_free.push_back(std::move(picture));
    }
}

TileFeed::TileFeed() : m_pictures(std::make_shared<PicturePool>()) {
    m_stream.setFrameCallback([this](const LiveFrame& frame) { onFrame(frame); });
    m_stream.setEndCallback([this](StreamEnd end) { onStreamEnded(end); });
    m_thread = WorkerThread([this] { run(); });
}

TileFeed::~TileFeed() {
    stop();
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    stopWithin(m_thread, kThreadGrace_ms, kModule, "DVideoWindow::~DVideoWindow() - feedThread",
               [this] { m_stream.disconnectFromCamera(); });
}

void TileFeed::setListener(Listener listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listener = std::move(listener);
}

void TileFeed::tell(const std::function<void()> Listener::*event) {
    // Told under the lock, so that once setListener returns the old listener is never called.
    std::lock_guard lock(m_listenerMutex);
    if (m_listener.*event) {
        (m_listener.*event)();
    }
}

void TileFeed::setCamera(std::optional<FeedCamera> camera) {
    if (!camera) {
        m_state.store(VideoState::VideoIdle);
    }
    {
        std::lock_guard lock(m_mutex);
        m_camera = std::move(camera);
        // The last frame, its time and the reconnecting belong to the previous camera.
        m_reconnect = {};
        m_reconnectAt.reset();
        m_failuresInARow = 0;
        ++m_generation;
    }
    m_newestFrame.clear();
    m_lastFrame_ms.store(0);
    std::lock_guard lock(m_pictureMutex);
    m_newest.reset();
}

std::optional<VideoChannel> TileFeed::channel() const {
    std::lock_guard lock(m_mutex);
    return m_camera ? std::optional(m_camera->channel) : std::nullopt;
}

void TileFeed::start() {
    bool connecting = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_camera) {
            return;
        }
        ++m_generation;
        m_reconnectAt.reset();
        m_reconnect.nextAttempt_ms.reset();
        m_state.store(VideoState::VideoConnecting);
        m_connectDue = true;
        connecting = m_connecting;
    }
    m_wake.notify_all();
    // A connect under way is for what came before: it gives up, and the next one begins.
    if (connecting) {
        m_stream.disconnectFromCamera();
    }
}

void TileFeed::stop() {
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_state.store(VideoState::VideoIdle);
        m_connectDue = false;
        m_watchdogArmed = false;
        m_reconnect = {};
        m_reconnectAt.reset();
        m_failuresInARow = 0;
    }
    m_wake.notify_all();
    // Disconnecting wakes a connect under way; one that began just before is woken again.
    m_stream.disconnectFromCamera();
    {
        std::unique_lock lock(m_mutex);
        const auto giveUp = Clock::now() + kConnectGiveUp;
        while (m_connecting && Clock::now() < giveUp) {
            lock.unlock();
            m_stream.disconnectFromCamera();
            lock.lock();
            m_connected.wait_for(lock, kConnectWakeStep, [this] { return !m_connecting; });
        }
    }
    m_stream.disconnectFromCamera();
    endClip();
    // A frame that came in while stopping must not leave the feed playing.
    m_state.store(VideoState::VideoIdle);
}

void TileFeed::run() {
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (m_connectDue) {
            connectLocked(lock);
            continue;
        }
        std::optional<Clock::time_point> wakeAt = m_reconnectAt;
        if (m_watchdogArmed && (!wakeAt || m_nextWatchdog < *wakeAt)) {
            wakeAt = m_nextWatchdog;
        }
        // Any news wakes the thread, which then looks again at what is due.
        if (wakeAt) {
            m_wake.wait_until(lock, *wakeAt);
        } else {
            m_wake.wait(lock);
        }
        const Clock::time_point now = Clock::now();
        if (m_reconnectAt && now >= *m_reconnectAt) {
            m_reconnectAt.reset();
            m_reconnect.connecting = true;
            requestConnectLocked();
        }
        if (m_watchdogArmed && now >= m_nextWatchdog) {
            checkWatchdogLocked(now);
        }
    }
}

void TileFeed::requestConnectLocked() {
    if (m_camera && m_state.load() != VideoState::VideoIdle) {
        m_reconnect.nextAttempt_ms.reset();
        m_connectDue = true;
    }
}

void TileFeed::checkWatchdogLocked(Clock::time_point now) {
    m_nextWatchdog = now + std::chrono::milliseconds(kWatchdogPeriod_ms);
    // A lost stream is being reconnected already.
    if (m_state.load() == VideoState::VideoIdle || m_reconnect.attempt > 0 ||
        !watchdogShouldReconnect(static_cast<std::int64_t>(std::time(nullptr)),
                                 m_lastFrameCalendar_s.load(), m_connecting)) {
        return;
    }
    ++m_watchdogReconnects;
    m_state.store(VideoState::VideoConnecting);
    ++m_generation;
    requestConnectLocked();
}

void TileFeed::connectLocked(std::unique_lock<std::mutex>& lock) {
    m_connectDue = false;
    if (!m_camera || m_state.load() == VideoState::VideoIdle) {
        return;
    }
    const std::uint64_t generation = m_generation;
    const std::string text = formatConnectionText(
        m_camera->serverAddress, m_camera->channel.ChannelID, m_camera->serverPort);
    m_connecting = true;
    m_watchdogArmed = false;
    m_streamGeneration = generation;
    m_intervals.restart();
    lock.unlock();

    m_stream.disconnectFromCamera();
    endClip();
    m_nextGridDraw_ms.store(0);
    m_streamFrames.store(0);
    m_streamFrameShown.store(0);
    m_frameSinceConnect.store(false);
    const StreamResult result = m_stream.connectToCamera(text);

    lock.lock();
    m_connecting = false;
    m_connected.notify_all();
    if (generation != m_generation) {
        // Stopped or restarted meanwhile: this stream is not wanted any more.
        if (m_state.load() == VideoState::VideoIdle) {
            lock.unlock();
            m_stream.disconnectFromCamera();
            lock.lock();
        }
        return;
    }
    m_reconnect.connecting = false;
    m_watchdogArmed = true;
    m_nextWatchdog = Clock::now() + std::chrono::milliseconds(kWatchdogPeriod_ms);
    if (result != StreamResult::Opened) {
        scheduleReconnectLocked(lossOf(result));
    }
    lock.unlock();
    tell(&Listener::changed);
    lock.lock();
}

void TileFeed::scheduleReconnectLocked(StreamLoss loss) {
    ++m_failuresInARow;
    ++m_streamLosses;
    const std::chrono::milliseconds delay = reconnectDelay(m_failuresInARow, loss);
    if (m_failuresInARow == 1 && m_camera) {
        // The ID is the server's: a line break in it must not write a log entry of its own.
        const std::string message =
            shownServerText(m_camera->channel.ChannelID) + ": " + std::string(streamLossText(loss));
        writeLog(kModule, "DVideoWindow::reconnect()", message.c_str());
    }
    m_reconnect.attempt = m_failuresInARow;
    m_reconnect.connecting = false;
    m_reconnect.nextAttempt_ms = steadyMilliseconds() + delay.count();
    m_reconnect.lastLoss = loss;
    m_reconnectAt = Clock::now() + delay;
}

void TileFeed::onStreamEnded(StreamEnd end) {
    endClip();
    {
        std::lock_guard lock(m_mutex);
        // A stream that falls silent but stays open is the watchdog's.
        if (end == StreamEnd::Silent || m_streamGeneration != m_generation || m_connecting ||
            m_state.load() == VideoState::VideoIdle) {
            return;
        }
        scheduleReconnectLocked(StreamLoss::Closed);
    }
    m_wake.notify_all();
    tell(&Listener::changed);
}

void TileFeed::onStreamRunning() {
    {
        std::lock_guard lock(m_mutex);
        if (m_streamGeneration != m_generation) {
            return;
        }
        m_failuresInARow = 0;
        m_reconnect.attempt = 0;
        m_reconnect.connecting = false;
        m_reconnect.nextAttempt_ms.reset();
        m_reconnectAt.reset();
    }
    tell(&Listener::changed);
}

void TileFeed::setBigView(bool bigView) {
    m_bigView.store(bigView);
    m_stream.setMediumResolution(
        wantsMediumStream(bigView, zoomRegion(), false, m_pictureWidth.load(), m_areaWidth.load()));
}

void TileFeed::setArea(int width, int height) {
    m_areaWidth.store(width);
    m_areaHeight.store(height);
    m_nextGridDraw_ms.store(0);
    chooseStream();
}

void TileFeed::setShown(bool shown) {
    // Shown again: the next frame is drawn at once, whatever the grid's pace.
    if (!m_shown.exchange(shown) && shown) {
        m_nextGridDraw_ms.store(0);
    }
}

void TileFeed::chooseStream() {
    const std::optional<VideoChannel> shownChannel = channel();
    const std::optional<Rect> drawn =
        shownChannel ? picturePlacement(m_areaWidth.load(), m_areaHeight.load(), *shownChannel)
                     : std::nullopt;
    const bool medium =
        wantsMediumStream(m_bigView.load(), zoomRegion(), m_stream.mediumResolution(),
                          m_pictureWidth.load(), drawn ? drawn->width : 0);
    // A recording keeps its stream: its clip goes on in one file.
    if (medium == m_stream.mediumResolution() || recording()) {
        return;
    }
    m_stream.setMediumResolution(medium);
    {
        std::lock_guard lock(m_mutex);
        if (m_state.load() == VideoState::VideoIdle) {
            return;
        }
        ++m_generation;
        requestConnectLocked();
    }
    m_wake.notify_all();
}

void TileFeed::setRecording(std::shared_ptr<ClipRecorder> recording) {
    std::lock_guard lock(m_evidenceMutex);
    m_recording = std::move(recording);
}

std::shared_ptr<ClipRecorder> TileFeed::recording() const {
    std::lock_guard lock(m_evidenceMutex);
    return m_recording;
}

void TileFeed::setZoomRegion(const ZoomRegion& region) {
    {
        std::lock_guard lock(m_evidenceMutex);
        m_zoomRegion = region;
    }
    m_nextGridDraw_ms.store(0);
    chooseStream();
}

ZoomRegion TileFeed::zoomRegion() const {
    std::lock_guard lock(m_evidenceMutex);
    return m_zoomRegion;
}

void TileFeed::endClip() {
    if (const std::shared_ptr<ClipRecorder> clip = recording()) {
        clip->onStreamEnded();
    }
}

void TileFeed::onFrame(const LiveFrame& frame) {
    // Every frame is evidence, whether or not it is drawn or decodes.
    m_newestFrame.keep(frame);
    if (const std::shared_ptr<ClipRecorder> clip = recording()) {
        clip->onFrame(frame);
    }
    const std::int64_t arrived_ms = steadyMilliseconds();
    m_lastFrameCalendar_s.store(static_cast<std::int64_t>(std::time(nullptr)));
    m_lastFrame_ms.store(arrived_ms);
    {
        std::lock_guard lock(m_mutex);
        m_intervals.frameArrived(arrived_ms);
    }
    if (!m_frameSinceConnect.exchange(true)) {
        onStreamRunning();
    }
    m_framesReceived.fetch_add(1);
    const long frameNumber = m_streamFrames.fetch_add(1) + 1;
    if (m_state.exchange(VideoState::VideoPlaying) != VideoState::VideoPlaying) {
        tell(&Listener::changed);
    }
    // Every frame is read as it comes, so none waits in the connection; only the newest of a
    // shown view is decoded, and in the grid only one per throttle period.
    if (!m_shown.load() || !frameIsDrawn(drawsEveryFrame(), frame.newerFrameWaiting(), arrived_ms,
                                         m_nextGridDraw_ms.load())) {
        return;
    }
    const std::optional<VideoChannel> shownChannel = channel();
    if (!shownChannel || frame.length() <= 0 || !shownChannel->DetailsLoaded) {
        return;
    }
    m_nextGridDraw_ms.store(arrived_ms + kGridThrottle_ms);
    if (drawFrame(frame, *shownChannel)) {
        m_streamFrameShown.store(frameNumber);
    }
    // Counted once the draw is over, so that whoever sees the count also sees what it showed.
    m_framesDrawn.fetch_add(1);
}

bool TileFeed::drawFrame(const LiveFrame& frame, const VideoChannel& shownChannel) {
    const std::optional<Rect> placement =
        picturePlacement(m_areaWidth.load(), m_areaHeight.load(), shownChannel);
    if (!placement || placement->width <= 0 || placement->height <= 0) {
        return false;
    }
    std::unique_ptr<FeedPicture> next = m_pictures->take();
    // Only the part a zoom shows is decoded, at the camera's own detail.
    const ZoomRegion part = zoomRegion();
    if (!m_decoder.decode(frame.payload(), {placement->width, placement->height}, next->picture,
                          part)) {
        m_pictures->give(std::move(next));
        return false;
    }
    next->placement = *placement;
    next->region = part;
    next->number = ++m_pictureNumber;
    const int sourceWidth = next->picture.source.width;
    // The picture goes back to the pool when its last holder, the feed or a view painting it,
    // lets go: its buffer is reused then, never while a view reads it.
    std::shared_ptr<const FeedPicture> shared(
        next.release(), [pool = m_pictures](const FeedPicture* picture) {
            pool->give(std::unique_ptr<FeedPicture>(const_cast<FeedPicture*>(picture)));
        });
    {
        std::lock_guard lock(m_pictureMutex);
        m_newest.swap(shared);
    }
    // A zoom chosen before the first picture, or a stream of another size, may want the other
    // stream.
    if (m_pictureWidth.exchange(sourceWidth) != sourceWidth) {
        chooseStream();
    }
    tell(&Listener::pictureReady);
    return true;
}

std::shared_ptr<const FeedPicture> TileFeed::newestPicture() const {
    std::lock_guard lock(m_pictureMutex);
    return m_newest;
}

TileStatus TileFeed::status() const {
    TileStatusInput input;
    input.state = m_state.load();
    input.now_ms = steadyMilliseconds();
    if (const std::int64_t last_ms = m_lastFrame_ms.load(); last_ms != 0) {
        input.lastFrame_ms = last_ms;
    }
    input.lastFrameCalendar_s = m_lastFrameCalendar_s.load();
    {
        std::lock_guard lock(m_mutex);
        input.hasChannel = m_camera.has_value();
        input.frameInterval_ms = m_intervals.typical_ms();
        input.reconnect = m_reconnect;
        input.watchdogReconnects = m_watchdogReconnects;
    }
    return tileStatus(input);
}

ReconnectState TileFeed::reconnectState() const {
    std::lock_guard lock(m_mutex);
    return m_reconnect;
}

int TileFeed::streamLosses() const {
    std::lock_guard lock(m_mutex);
    return m_streamLosses;
}

bool TileFeed::watchdogArmed() const {
    std::lock_guard lock(m_mutex);
    return m_watchdogArmed && m_state.load() != VideoState::VideoIdle;
}

int TileFeed::watchdogReconnects() const {
    std::lock_guard lock(m_mutex);
    return m_watchdogReconnects;
}

}  // namespace krt
