#pragma once

#include <QWidget>
#include <span>
#include <string>

#include "common/app_state.h"
#include "common/video_channel.h"
#include "control/video_keys.h"
#include "tile/tile_status.h"
#include "tile/video_settings.h"

class QMenu;

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
    // The channel of that server (null: the first), or none.
    void setChannel(const VideoChannel* channel, const AppState* server = nullptr);
    // Where cameras of several servers are in view, each tile names its server; empty: none.
    void setServerName(const std::string& name);
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
    // The picture area's state, shown by the title bar's mark and the tooltip.
    const TileStatus& status() const;

    int baseId() const { return m_baseId; }
    VideoWindow* videoWindow() const { return m_videoWindow; }
    VideoTitleBar* titleBar() const { return m_titleBar; }
    TileEvidence* evidence() const { return m_evidence; }
    TileZoom* zoom() const { return m_zoom; }
    TileOverlay* overlay() const { return m_overlay; }
    // Snapshot, Record and the zoom keys act on the tile; false for any other action.
    bool applyKeyAction(VideoKeyAction action);

  signals:
    // The page's tap message: which tile the user touched.
    void videoTap(VideoWindowContainer* tile);
    void videoDoubleTap(VideoWindowContainer* tile);
    // The tile's context menu is about to show: its owner may add its own items.
    void contextMenuFilled(QMenu* menu);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showStatus();

    int m_baseId;
    VideoWindow* m_videoWindow;
    VideoTitleBar* m_titleBar;
    QWidget* m_focusFrame;
    TileOverlay* m_overlay;
    TileEvidence* m_evidence;
    TileZoom* m_zoom;
};

// Logs the frames received, decoded and painted by each shown tile with a camera: what an
// operator saw of each stream, and what a measurement of the page counts.
void logTileFrames(std::span<VideoWindowContainer* const> tiles);

}  // namespace krt
