#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/app_state.h"
#include "common/video_channel.h"
#include "media/digital_zoom.h"
#include "media/frame_decoder.h"
#include "protocol/worker_thread.h"
#include "recording/clip_recorder.h"
#include "recording/frame_snapshot.h"
#include "stream/live_stream.h"
#include "stream/reconnect_backoff.h"
#include "tile/tile_status.h"
#include "tile/video_window_logic.h"

class QPainter;

namespace krt {

// The picture area of a tile: owns the live stream of one channel, (re)connects it on a
// thread of its own, decodes every picture on the stream's receive thread and shows the newest
// one centred, at the channel's aspect, mirrored top to bottom. Without a picture it shows
// "No Video" or "Connecting...". A picture that has stopped is shown dimmed and grey with
// since when; a stream that ends is opened again at once, then with backoff.
class VideoWindow : public QWidget {
    Q_OBJECT

  public:
    // Timer 1002: repaint after a state or placement change; timer 1003: the watchdog, which
    // reconnects after more than 10 s without a picture.
    static constexpr int kRepaintDelay_ms = 100;
    static constexpr int kWatchdogPeriod_ms = 5000;
    // A grid tile draws one picture per period, the newest; it reads every frame meanwhile.
    static constexpr int kGridThrottle_ms = 2000;
    // How often the tile looks whether its picture went stale.
    static constexpr int kStatusPeriod_ms = 250;

    VideoWindow(const AppState& app, QWidget* parent = nullptr);
    ~VideoWindow() override;
    VideoWindow(const VideoWindow&) = delete;
    VideoWindow& operator=(const VideoWindow&) = delete;

    // A copy of the channel, or none (which shows "No Video"); the stream is not touched.
    void setChannel(const VideoChannel* channel);
    // The single view asks for medium resolution, the grid for low.
    void setBigView(bool bigView);
    // The grid draws every frame, like the single view, instead of one picture a period.
    void setLiveGrid(bool liveGrid) { m_liveGrid.store(liveGrid); }
    void pauseVideo() { m_stream.pauseReceiving(); }
    // Empty without a channel.
    std::string getChannelId() const;
    void startConnect();
    void stopVideo();

    // The channel shown, or none.
    std::optional<VideoChannel> channel() const { return channelCopy(); }
    // The newest frame received, byte for byte: what a snapshot saves.
    std::optional<KeptFrame> newestFrame() const { return m_newestFrame.copy(); }
    // The recording every received frame goes to, or none.
    void setRecording(std::shared_ptr<ClipRecorder> recording);
    std::shared_ptr<ClipRecorder> recording() const;
    // The part of the picture shown; the next frame is drawn at once.
    void setZoomRegion(const ZoomRegion& region);
    ZoomRegion zoomRegion() const;

    VideoState state() const { return m_state.load(); }
    bool bigView() const { return m_bigView.load(); }
    // Where the last picture went, and a copy of it (null before the first).
    std::optional<Rect> picturePlacementShown() const;
    QImage newestPicture() const;
    int framesReceived() const { return m_framesReceived.load(); }
    // Frames received since the stream last connected, and which of them (counted from 1)
    // the picture shown came from; 0 before the first.
    long streamFramesReceived() const { return m_streamFrames.load(); }
    long streamFrameShown() const { return m_streamFrameShown.load(); }
    // Frames that reached the drawing step (whether or not they decoded).
    int framesDrawn() const { return m_framesDrawn.load(); }
    // Paints that showed a picture not shown before.
    int framesPainted() const { return m_framesPainted; }
    int watchdogReconnects() const { return m_watchdogReconnects; }
    bool watchdogArmed() const { return m_watchdog.isActive(); }
    // The text the next paint shows over the background.
    QString windowText() const;
    // What the tile tells about its video: the title bar's mark, the caption over the picture,
    // the tooltip. Looked at every kStatusPeriod_ms.
    const TileStatus& status() const { return m_status; }
    const ReconnectState& reconnectState() const { return m_reconnect; }
    void refreshStatus();

  signals:
    void statusChanged();
    // The stream ended or could not be opened; a reconnect is scheduled.
    void streamLost();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void connectToVideoThread(std::uint64_t number, const std::string& connectionText);
    void onFrame(const LiveFrame& frame);
    // The stream has ended or been stopped: no frame of it follows, and a recording's clip
    // ends. From the thread that ended it.
    void endClip();
    // GUI thread: how a connect attempt and a stream ended, for the stream of that connect.
    void onConnectFinished(std::uint64_t connectNumber, StreamResult result);
    void onStreamEnded(std::uint64_t connectNumber, StreamEnd end);
    void onStreamRunning(std::uint64_t connectNumber);
    bool isCurrentConnect(std::uint64_t connectNumber) const;
    void scheduleReconnect(StreamLoss loss);
    void paintCaption(QPainter& painter, bool overPicture);
    const QImage& stalePicture();
    // False when the frame gave no picture.
    bool drawFrame(const LiveFrame& frame, const VideoChannel& channel);
    void onWatchdog();
    void armRepaint();
    void armWatchdog();
    bool drawsEveryFrame() const { return m_bigView.load() || m_liveGrid.load(); }
    // Asks for the stream whose detail the view needs, reconnecting when that changes.
    void chooseStream();
    void endConnectThread(int grace_ms, const char* caller);
    std::optional<VideoChannel> channelCopy() const;

    const AppState& m_app;
    LiveStream m_stream;
    mutable std::mutex m_channelMutex;
    std::optional<VideoChannel> m_channel;  // guarded: the receive thread reads it
    std::atomic<VideoState> m_state{VideoState::VideoIdle};
    std::atomic<bool> m_bigView{false};
    std::atomic<bool> m_liveGrid{false};
    // Steady-clock time from which the grid draws its next picture; 0 draws the next at once.
    std::atomic<std::int64_t> m_nextGridDraw_ms{0};
    std::atomic<bool> m_connectInProgress{false};
    std::atomic<bool> m_connectCancelled{false};  // set by stopVideo for a connect under way
    std::atomic<std::int64_t> m_lastFrameTime{0};
    // Steady-clock time of the channel's last frame; 0 before its first.
    std::atomic<std::int64_t> m_lastFrame_ms{0};
    // Numbers the connects (and stops): a report of an earlier one is out of date. The stream
    // open now, or being opened, came from connect m_streamNumber.
    std::uint64_t m_connectNumber = 0;  // GUI thread
    std::atomic<std::uint64_t> m_streamNumber{0};
    std::atomic<bool> m_frameSinceConnect{false};
    std::mutex m_intervalsMutex;
    FrameIntervals m_intervals;  // guarded: the receive thread writes, the GUI thread reads
    std::atomic<int> m_framesReceived{0};
    std::atomic<int> m_framesDrawn{0};
    std::atomic<long> m_streamFrames{0};
    std::atomic<long> m_streamFrameShown{0};
    std::atomic<int> m_areaWidth{0};
    std::atomic<int> m_areaHeight{0};
    std::atomic<int> m_pictureWidth{0};  // of the stream's newest decoded frame, whole
    WorkerThread m_connectThread;

    NewestFrame m_newestFrame;
    mutable std::mutex m_evidenceMutex;
    std::shared_ptr<ClipRecorder> m_recording;  // guarded by m_evidenceMutex
    ZoomRegion m_zoomRegion;                    // guarded by m_evidenceMutex

    // Receive thread: the decoder and the picture it decodes into.
    FrameDecoder m_decoder;
    DecodedPicture m_decoding;
    std::optional<Rect> m_placement;

    // Handed to the GUI thread: the newest picture and where it goes.
    mutable std::mutex m_pictureMutex;
    DecodedPicture m_newest;
    QImage m_newestImage;  // wraps m_newest's pixels
    std::optional<Rect> m_shownPlacement;
    ZoomRegion m_shownRegion;           // the part of the picture the newest one holds
    std::uint64_t m_pictureNumber = 0;  // counts the pictures handed over

    // GUI thread only.
    std::uint64_t m_paintedPictureNumber = 0;
    int m_framesPainted = 0;
    int m_watchdogReconnects = 0;
    int m_failuresInARow = 0;  // since the stream last delivered a frame
    ReconnectState m_reconnect;
    TileStatus m_status;
    QImage m_stalePicture;  // the newest picture dimmed and grey
    std::uint64_t m_stalePictureNumber = 0;

    QTimer m_repaintTimer;
    QTimer m_watchdog;
    QTimer m_reconnectTimer;
    QTimer m_statusTimer;
};

}  // namespace krt
