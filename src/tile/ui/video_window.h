#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "common/app_state.h"
#include "common/video_channel.h"
#include "tile/tile_feed.h"

class QPainter;
class QWindow;

namespace krt {

class WindowOcclusion;

// The picture area of a tile: shows the newest picture of its camera's feed centred, at the
// channel's aspect, mirrored top to bottom. Without a picture it shows "No Video" or
// "Connecting...". A picture that has stopped is shown dimmed and grey with since when. The
// feed does the streaming, reconnecting, recording and decoding on its own threads; the tile
// tells it what it shows (size, zoom, whether it can be seen at all) and paints.
class VideoWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kGridThrottle_ms = TileFeed::kGridThrottle_ms;
    // How often the tile looks whether its picture went stale, and whether it can be seen.
    static constexpr int kStatusPeriod_ms = 250;

    VideoWindow(const AppState& app, QWidget* parent = nullptr);
    ~VideoWindow() override;
    VideoWindow(const VideoWindow&) = delete;
    VideoWindow& operator=(const VideoWindow&) = delete;

    TileFeed& feed() { return m_feed; }
    const TileFeed& feed() const { return m_feed; }

    // A copy of the channel of that server (null: the first), or none (which shows "No
    // Video"); the stream is not touched.
    void setChannel(const VideoChannel* channel, const AppState* server = nullptr);
    // The server of the channel shown, or of the last one.
    const AppState& server() const { return *m_server; }
    // The single view asks for medium resolution, the grid for low.
    void setBigView(bool bigView) { m_feed.setBigView(bigView); }
    // The grid draws every frame, like the single view, instead of one picture a period.
    void setLiveGrid(bool liveGrid) { m_feed.setLiveGrid(liveGrid); }
    void pauseVideo() { m_feed.pause(); }
    // Empty without a channel.
    std::string getChannelId() const;
    void startConnect();
    void stopVideo();

    // The channel shown, or none.
    std::optional<VideoChannel> channel() const { return m_feed.channel(); }
    // The part of the picture shown; the next frame is drawn at once.
    void setZoomRegion(const ZoomRegion& region);
    ZoomRegion zoomRegion() const { return m_feed.zoomRegion(); }

    VideoState state() const { return m_feed.state(); }
    bool bigView() const { return m_feed.bigView(); }
    // Where the last picture went, and a copy of it (null before the first).
    std::optional<Rect> picturePlacementShown() const;
    QImage newestPicture() const;
    int framesReceived() const { return m_feed.framesReceived(); }
    long streamFramesReceived() const { return m_feed.streamFramesReceived(); }
    long streamFrameShown() const { return m_feed.streamFrameShown(); }
    int framesDrawn() const { return m_feed.framesDrawn(); }
    // Paints that showed a picture not shown before.
    int framesPainted() const { return m_framesPainted; }
    int watchdogReconnects() const { return m_feed.watchdogReconnects(); }
    bool watchdogArmed() const { return m_feed.watchdogArmed(); }
    // The text the next paint shows over the background.
    QString windowText() const;
    // What the tile tells about its video: the title bar's mark, the caption over the picture,
    // the tooltip. Looked at every kStatusPeriod_ms.
    const TileStatus& status() const { return m_status; }
    ReconnectState reconnectState() const { return m_feed.reconnectState(); }
    void refreshStatus();

  signals:
    void statusChanged();
    // The stream ended or could not be opened; a reconnect is scheduled.
    void streamLost();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void onFeedChanged();
    // Whether any of the tile can be seen: not hidden, its window neither minimised nor wholly
    // covered, not scrolled out of sight. A tile nobody sees decodes nothing.
    void updateShown();
    void watchWindow();
    void paintCaption(QPainter& painter, bool overPicture);
    const QImage& stalePicture(const FeedPicture& picture);

    const AppState& m_app;
    const AppState* m_server;
    TileFeed m_feed;
    // Whose exposure, and whether others cover it all, tell whether the tile can be seen.
    QPointer<QWindow> m_watchedWindow;
    QPointer<WindowOcclusion> m_occlusion;
    int m_framesPainted = 0;
    std::uint64_t m_paintedPictureNumber = 0;
    int m_streamLosses = 0;  // of the feed, as last seen: more tells a new loss
    TileStatus m_status;
    QImage m_stalePicture;  // the newest picture dimmed and grey
    std::uint64_t m_stalePictureNumber = 0;
    QTimer m_statusTimer;
};

}  // namespace krt
