#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <string_view>

#include "common/app_state.h"
#include "common/ui/full_screen.h"
#include "control/held_key_filter.h"
#include "control/ptz_safety.h"
#include "control/ptz_sender.h"
#include "control/video_keys.h"
#include "tile/video_settings.h"
#include "video/video_page_logic.h"

class QComboBox;
class QMessageBox;
class QScrollBar;

namespace krt {

class PageLinkLabel;
class VideoWindowContainer;
class PressButton;

// The "Videos" tab: the cameras of the catalogue in a grid of 2 × 2, 3 × 3 or 4 × 4 a page, or
// one at a time in the single view, with page links, a page list, and PTZ buttons for cameras
// that move. It owns the tiles (enough for the largest grid) and the PTZ connection. The
// keyboard works it too, and it can show its pictures alone, full screen.
class VideoPage : public QWidget {
    Q_OBJECT

  public:
    // Timer 1002: the arrow cursor back shortly after a relayout.
    static constexpr int kCursorDelay_ms = 10;
    static constexpr std::size_t kTileCount = kLargestGridColumns * kLargestGridColumns;
    // While a PTZ move is held, the connection and the move's length are checked this often.
    static constexpr int kPtzWatchPeriod_ms = 250;
    // With the diagnostic log on, every tile's frame counts are written this often.
    static constexpr int kFrameLogPeriod_ms = 10000;

    explicit VideoPage(const AppState& app, QWidget* parent = nullptr);
    ~VideoPage() override;
    VideoPage(const VideoPage&) = delete;
    VideoPage& operator=(const VideoPage&) = delete;

    void setGrid(int rows, int cols);
    // Places the tiles for the grid and page, or only re-fits them to a new page size; a
    // scroll alone moves nothing.
    void relayout();
    // "Show Video" of an event: the channel alone in the single view. False when the catalogue
    // holds no channel of that ID (ignoring letter case); the page is then left as it was.
    bool showChannel(std::string_view channelId);
    void showChannelAt(int channelIndex);
    // The page shows that server's cameras (the first's at first), its PTZ going to that server.
    void showServer(const AppState& server);
    const AppState& server() const { return *m_server; }
    // The page of the grid (in the grid's columns), leaving the single view.
    void showGridPage(int page);
    // The grid that the grid view uses (2, 3 or 4 columns and as many rows); a grid shown now
    // changes at once, keeping its first channel in view.
    void setGridColumns(int columns);
    int gridColumns() const { return m_gridColumns; }
    void setLiveGrid(bool liveGrid);
    bool liveGrid() const { return m_liveGrid; }
    // Where every tile saves its snapshots and clips, and how long it may record.
    void setEvidenceSettings(const EvidenceSettings& settings);
    bool fullScreen() const { return m_fullScreen.active(); }
    void setFullScreen(bool on);
    // The tile with the keyboard focus frame, row-major in the grid.
    int focusedTile() const { return m_focusedTile; }
    // How long a PTZ move may last without a release before it is stopped.
    void setPtzMoveLimit(std::chrono::milliseconds limit) { m_ptzGuard = PtzMoveGuard(limit); }
    bool ptzMoving() const { return m_ptzGuard.moving(); }
    // Stops every tile while another view takes the page's place; the next relayout fills
    // them again.
    void suspend();
    // Asked when the single view is left: true when the owner shows something else instead
    // of the grid (the layout the single view was opened from).
    using SingleViewReturn = std::function<bool()>;
    void setSingleViewReturn(SingleViewReturn back) { m_singleViewReturn = std::move(back); }
    // The list of shortcuts that "?" and F1 show; null before the first time.
    QMessageBox* shortcutsBox() const { return m_shortcutsBox; }

    // Page shown, zero-based; the sheet may set it before a relayout.
    int pageIndex = 0;

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    bool singleView() const { return m_singleView; }
    int ptzChannelIndex() const { return m_ptzChannelIndex; }
    const std::array<VideoWindowContainer*, kTileCount>& tiles() const { return m_tiles; }
    const std::array<PageLinkLabel*, 3>& links() const { return m_links; }
    const std::array<PressButton*, 6>& ptzButtons() const { return m_ptzButtons; }
    QComboBox* pageList() const { return m_pageList; }
    QScrollBar* scrollBar() const { return m_scrollBar; }
    bool ptzConnected() const { return m_ptz.isConnected(); }

  signals:
    void fullScreenChanged(bool on);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void createTiles();
    void createControls();
    void showPageNumber(int pageNumber);
    void showListedPage(int selection);
    void toggleSingleView(VideoWindowContainer* tile);
    void layoutPage(int width, int height);
    void handleScrollAction(int action);
    void fnCallbackButtonPressUpDown(int controlId, int kind);
    void undoTap(VideoWindowContainer* tile);
    void applyKey(const VideoKeyOutcome& outcome);
    void stepPage(int step);
    void toggleSingleViewOnFocusedTile();
    // The tile the keys act on: the single view's, or the framed one of the grid.
    VideoWindowContainer* keyTile() const;
    void moveTileFocus(int dx, int dy);
    void showTileFocus();
    void showShortcuts();
    void placeTopRow(int width, int height);
    // PTZ moves: every press and release goes through the guard, which stops a move whenever
    // the operator may have lost hold of it.
    void pressPtz(PtzButton button);
    void endHeldPtzKey();
    // Full screen shows the grid as a wall: every row and column its share of the screen.
    bool placeAsWall();
    void releasePtz();
    void stopPtzMove(PtzStopTrigger trigger);
    void sendPtzStop(PtzStopTrigger trigger, int code);
    void sendPtzCode(int code);
    void watchPtzMove();
    void logTileFrames();
    void refreshPageList();
    void placePtzButtons(bool show);
    void fillTiles();
    void fitToPage();
    int clientWidth() const;
    // The room of the link row that full screen hides, which the tiles then take.
    int hiddenLinkRowRoom() const;
    int channelCount() const { return m_server->channelCount(); }

    const AppState& m_app;
    const AppState* m_server;  // whose cameras the page shows
    PtzSender m_ptz;
    std::array<PressButton*, 6> m_ptzButtons{};
    std::array<PageLinkLabel*, 3> m_links{};
    QComboBox* m_pageList = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    QMessageBox* m_shortcutsBox = nullptr;
    std::array<VideoWindowContainer*, kTileCount> m_tiles{};

    int m_rows = 0;
    int m_cols = 0;
    bool m_singleView = false;
    bool m_ptzShown = false;
    int m_ptzChannelIndex = -1;
    LayoutKey m_last;
    QSize m_fittedSize;
    int m_scrollPosition = 0;

    int m_gridColumns = kDefaultGridColumns;
    bool m_liveGrid = false;
    int m_focusedTile = 0;
    FullScreenSwitch m_fullScreen{this};
    // The view a tap left, so that a double tap (whose first half was that tap) can undo it.
    struct TapUndo {
        PageView before;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<TapUndo> m_lastTap;
    PtzMoveGuard m_ptzGuard;
    HeldKeyFilter m_heldPtzKey;
    QTimer m_heldKeyTimer;
    SingleViewReturn m_singleViewReturn;

    QTimer m_firstLayoutTimer;
    QTimer m_cursorTimer;
    QTimer m_ptzWatch;
    QTimer m_frameLog;
};

}  // namespace krt
