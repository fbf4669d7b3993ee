#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/video_channel.h"
#include "media/digital_zoom.h"
#include "media/frame_decoder.h"
#include "media/geometry.h"
#include "protocol/worker_thread.h"
#include "recording/clip_recorder.h"
#include "recording/frame_snapshot.h"
#include "stream/live_stream.h"
#include "stream/reconnect_backoff.h"
#include "tile/tile_status.h"

namespace krt {

// The camera a feed streams: its channel and the server that serves it.
struct FeedCamera {
    std::string serverAddress;
    int serverPort = 0;
    VideoChannel channel;
};

// A picture the feed decoded, and where it goes in the area it was decoded for.
struct FeedPicture {
    DecodedPicture picture;
    Rect placement;
    ZoomRegion region;         // the part of the frame it holds
    std::uint64_t number = 0;  // counts the feed's pictures from 1
};

// One camera's live stream, owned without any widget. Its thread connects, reconnects a lost
// stream with backoff and watches for silence; the stream's receive thread reads every frame,
// keeps the newest, hands it to a recording and decodes only what a view shows: the newest
// frame, at the size and part the view asks for, in the grid one per throttle period, and
// nothing while the view is hidden. Views take the newest picture when told it is ready.
class TileFeed final {
  public:
    // How often the watchdog looks whether the stream fell silent.
    static constexpr int kWatchdogPeriod_ms = 5000;
    // A grid tile draws one picture per period, the newest; it reads every frame meanwhile.
    static constexpr int kGridThrottle_ms = 2000;

    // Called on the feed's threads, never while the feed holds a lock of its state; a
    // listener only hands the news on (a queued call), it never calls back into the feed.
    struct Listener {
        std::function<void()> pictureReady;  // a new picture waits in newestPicture()
        std::function<void()> changed;       // the state or the reconnecting changed
    };

    TileFeed();
    ~TileFeed();
    TileFeed(const TileFeed&) = delete;
    TileFeed& operator=(const TileFeed&) = delete;

    void setListener(Listener listener);

    // The camera, or none; a running stream goes on until the next start or stop.
    void setCamera(std::optional<FeedCamera> camera);
    std::optional<VideoChannel> channel() const;

    // Connects (again) now; nothing without a camera.
    void start();
    // Ends the stream and any reconnecting; no frame is handled after it returns.
    void stop();
    // No further frame is read until the next start.
    void pause() { m_stream.pauseReceiving(); }

    // What the view asks for. The single view takes the camera's medium stream and draws every
    // frame; a live grid draws every frame too.
    void setBigView(bool bigView);
    bool bigView() const { return m_bigView.load(); }
    void setLiveGrid(bool liveGrid) { m_liveGrid.store(liveGrid); }
    // The area the picture is fitted into; the next frame is drawn at that size at once.
    void setArea(int width, int height);
    // Only a shown view's frames are decoded; a hidden one's are still read, kept and recorded.
    void setShown(bool shown);
    bool shown() const { return m_shown.load(); }
    // The part of the picture shown; the next frame is drawn at once.
    void setZoomRegion(const ZoomRegion& region);
    ZoomRegion zoomRegion() const;

    // The recording every received frame goes to, or none.
    void setRecording(std::shared_ptr<ClipRecorder> recording);
    std::shared_ptr<ClipRecorder> recording() const;

    // The newest frame received, byte for byte: what a snapshot saves.
    std::optional<KeptFrame> newestFrame() const { return m_newestFrame.copy(); }
    // The newest decoded picture; null before the first of this camera.
    std::shared_ptr<const FeedPicture> newestPicture() const;

    VideoState state() const { return m_state.load(); }
    bool mediumStream() const { return m_stream.mediumResolution(); }
    TileStatus status() const;
    ReconnectState reconnectState() const;
    // How often the stream was lost or could not be opened, each time a reconnect scheduled.
    int streamLosses() const;
    bool watchdogArmed() const;
    int watchdogReconnects() const;

    int framesReceived() const { return m_framesReceived.load(); }
    // Frames received since the stream last connected, and which of them (counted from 1) the
    // newest picture came from; 0 before the first.
    long streamFramesReceived() const { return m_streamFrames.load(); }
    long streamFrameShown() const { return m_streamFrameShown.load(); }
    // Frames that reached the drawing step (whether or not they decoded).
    int framesDrawn() const { return m_framesDrawn.load(); }

  private:
    using Clock = std::chrono::steady_clock;

    // The buffers pictures are decoded into, handed back by their last holder on any thread.
    class PicturePool {
      public:
        std::unique_ptr<FeedPicture> take();
        void give(std::unique_ptr<FeedPicture> picture);

      private:
        static constexpr std::size_t kKept = 2;
        std::mutex m_mutex;
        std::vector<std::unique_ptr<FeedPicture>> m_free;
    };

    void run();
    void connectLocked(std::unique_lock<std::mutex>& lock);
    void checkWatchdogLocked(Clock::time_point now);
    void scheduleReconnectLocked(StreamLoss loss);
    void requestConnectLocked();
    void onFrame(const LiveFrame& frame);
    void onStreamEnded(StreamEnd end);
    void onStreamRunning();
    bool drawFrame(const LiveFrame& frame, const VideoChannel& channel);
    void chooseStream();
    void endClip();
    void tell(const std::function<void()> Listener::*event);
    bool drawsEveryFrame() const { return m_bigView.load() || m_liveGrid.load(); }

    LiveStream m_stream;

    // Guarded by m_mutex: what the feed's thread acts on.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;       // the feed's thread waits on it
    std::condition_variable m_connected;  // a connect under way ended
    std::optional<FeedCamera> m_camera;
    std::uint64_t m_generation = 0;        // every start and stop makes what came before stale
    std::uint64_t m_streamGeneration = 0;  // of the stream open now, or being opened
    bool m_connectDue = false;
    bool m_connecting = false;
    bool m_quit = false;
    bool m_watchdogArmed = false;
    Clock::time_point m_nextWatchdog;
    int m_watchdogReconnects = 0;
    int m_failuresInARow = 0;  // since the stream last delivered a frame
    int m_streamLosses = 0;
    ReconnectState m_reconnect;
    std::optional<Clock::time_point> m_reconnectAt;
    FrameIntervals m_intervals;

    std::atomic<VideoState> m_state{VideoState::VideoIdle};
    std::atomic<bool> m_bigView{false};
    std::atomic<bool> m_liveGrid{false};
    std::atomic<bool> m_shown{false};  // a feed without a view decodes nothing
    std::atomic<int> m_areaWidth{0};
    std::atomic<int> m_areaHeight{0};
    std::atomic<int> m_pictureWidth{0};  // of the stream's newest decoded frame, whole
    // Steady-clock time from which the grid draws its next picture; 0 draws the next at once.
    std::atomic<std::int64_t> m_nextGridDraw_ms{0};
    std::atomic<bool> m_frameSinceConnect{false};
    std::atomic<std::int64_t> m_lastFrame_ms{0};         // steady clock; 0 before the first
    std::atomic<std::int64_t> m_lastFrameCalendar_s{0};  // the same moment on the calendar
    std::atomic<int> m_framesReceived{0};
    std::atomic<int> m_framesDrawn{0};
    std::atomic<long> m_streamFrames{0};
    std::atomic<long> m_streamFrameShown{0};

    NewestFrame m_newestFrame;
    mutable std::mutex m_evidenceMutex;
    std::shared_ptr<ClipRecorder> m_recording;  // guarded by m_evidenceMutex
    ZoomRegion m_zoomRegion;                    // guarded by m_evidenceMutex

    // Receive thread: the decoder, and the picture it decodes into next.
    FrameDecoder m_decoder;
    std::shared_ptr<PicturePool> m_pictures;  // shared with the pictures out there
    mutable std::mutex m_pictureMutex;
    std::shared_ptr<const FeedPicture> m_newest;  // guarded by m_pictureMutex
    std::uint64_t m_pictureNumber = 0;            // receive thread

    std::mutex m_listenerMutex;
    Listener m_listener;  // guarded by m_listenerMutex

    WorkerThread m_thread;  // last: it runs on everything above
};

}  // namespace krt
