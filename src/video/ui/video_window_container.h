#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <string>

#include "common/app_state.h"
#include "common/video_channel.h"
#include "video/tile_status.h"
#include "video/video_settings.h"

namespace krt {

class TileEvidence;
class TileOverlay;
class TileZoom;
class VideoTitleBar;
class VideoWindow;

// One tile of the Videos page: the title bar over the picture area. A tap anywhere on the
// picture is reported to the page as a tap on the tile. Its context menu and the page's keys
// save a snapshot, record, and zoom the picture.
class VideoWindowContainer : public QWidget {
    Q_OBJECT

  public:
    VideoWindowContainer(const AppState& app, int baseId, QWidget* parent = nullptr);

    // Places the title bar and the picture area in a tile of that size.
    void resizeChildren(int width, int height);
    void setChannel(const VideoChannel* channel);
    void setBigView(bool bigView);
    void pauseVideo();
    std::string getChannelId() const;
    void startConnect();
    void stopVideo();
    // Draws every frame in the grid as well, instead of one picture every throttle period.
    void setLiveGrid(bool liveGrid);
    // The page's keyboard focus frame around the tile.
    void setFramed(bool framed);
    bool framed() const;
    // The state shown by the title bar's mark and the tooltip; refreshed every second.
    TileStatus status() const { return m_status; }
    void refreshStatus();

    int baseId() const { return m_baseId; }
    VideoWindow* videoWindow() const { return m_videoWindow; }
    VideoTitleBar* titleBar() const { return m_titleBar; }
    TileEvidence* evidence() const { return m_evidence; }
    TileZoom* zoom() const { return m_zoom; }
    TileOverlay* overlay() const { return m_overlay; }

  signals:
    // The page's tap message: which tile the user touched.
    void videoTap(VideoWindowContainer* tile);
    void videoDoubleTap(VideoWindowContainer* tile);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int m_baseId;
    VideoWindow* m_videoWindow;
    VideoTitleBar* m_titleBar;
    QWidget* m_focusFrame;
    TileOverlay* m_overlay;
    TileEvidence* m_evidence;
    TileZoom* m_zoom;

    // What the status poll saw last: the frame counter, when it moved and when it was read.
    QTimer m_statusTimer;
    QElapsedTimer m_sinceLastPoll;
    int m_polledFrames = 0;
    std::int64_t m_lastFrameSeen_s = 0;
    TileStatus m_status;
};

}  // namespace krt
