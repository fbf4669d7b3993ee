#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "common/app_state.h"
#include "layouts/layout_book.h"
#include "layouts/layout_template.h"
#include "tile/video_settings.h"

class QLabel;
class QMenu;

namespace krt {

struct CellCamera;

class VideoWindowContainer;

// The cameras of one layout, each in its cell: tiles that connect and draw as the grid's do.
// Cameras are dropped onto cells from the camera list, a tile dragged onto another swaps the
// two, and a cell's context menu removes its camera; the grid reports these, its owner
// changes the layout and shows it again. A camera that is not in the catalogue, or of a server
// the client does not have, leaves its cell empty, saying so.
class LayoutGrid : public QWidget {
    Q_OBJECT

  public:
    // Drag data: a camera's ChannelID from the camera list, or a cell's index.
    static constexpr const char* kCameraMime = "application/x-krt-camera";
    // A dragged camera as kCameraMime carries it, and back.
    static QByteArray cameraMimeData(const CameraRef& camera);
    static CameraRef cameraFromMimeData(const QByteArray& data);
    static constexpr const char* kCellMime = "application/x-krt-cell";
    static constexpr int kCellGap = 2;
    // After a layout is shown or a server fills its cells, the first pictures are awaited
    // this often, this long; then the log says how many cells had one, and when.
    static constexpr int kFirstPictureCheck_ms = 5;
    static constexpr int kFirstPictureWatch_ms = 10000;
    // With the diagnostic log on, every tile's frame counts are written this often, in the
    // line the Videos page writes for its grid.
    static constexpr int kFrameLogPeriod_ms = 10000;

    explicit LayoutGrid(const AppState& app, QWidget* parent = nullptr);
    ~LayoutGrid() override;
    LayoutGrid(const LayoutGrid&) = delete;
    LayoutGrid& operator=(const LayoutGrid&) = delete;

    // Shows the layout; cells that keep their camera keep their stream.
    void showLayout(const Layout& layout);
    // The cells look again for their cameras (a server logged in); those shown go on.
    void refreshCells();
    // Ends every stream; the next showLayout starts them again.
    void stop();
    void setLiveGrid(bool liveGrid);
    bool liveGrid() const { return m_liveGrid; }
    // Where the cells save their snapshots and clips, and how long they may record.
    void setEvidenceSettings(const EvidenceSettings& settings);
    // Whether drops, swaps and the context menu change the layout.
    void setEditable(bool editable) { m_editable = editable; }

    const std::string& layoutName() const { return m_layout.name; }
    const std::vector<VideoWindowContainer*>& tiles() const { return m_tiles; }
    // The note over a cell whose camera cannot be shown; hidden otherwise.
    const QLabel* cellNote(int cell) const;
    int focusedCell() const { return m_focusedCell; }
    void moveFocus(int dx, int dy);

    // How long after the last showLayout every cell with a camera had painted a picture, the
    // cells of servers that logged in since included; nothing while that is still awaited.
    // The diagnostic log has it too.
    std::optional<qint64> firstPictures_ms() const { return m_firstPictures_ms; }

  signals:
    void cameraDropped(int cell, const krt::CameraRef& camera);
    void cellsSwapped(int first, int second);
    void cameraRemoved(int cell);
    // A tap (or Enter) on a cell showing a camera: its single view.
    void cellOpened(int cell);
    void fullScreenToggled();
    void fullScreenLeft();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void showCells(const Layout& layout);
    // Cell k shows its camera; true when it showed that camera already and goes on.
    bool showCell(std::size_t k, const CellCamera& wanted, bool severalServers);
    void placeCells();
    void showFocus();
    int cellAt(QPoint position) const;
    int tileIndex(const QObject* part) const;
    void openCell(int cell);
    // The grid's own items of a cell's context menu.
    void addCellItems(int cell, QMenu& menu);
    void watchFirstPictures();
    void logTileFrames();

    const AppState& m_app;
    Layout m_layout;
    std::optional<LayoutTemplate> m_template;
    std::vector<VideoWindowContainer*> m_tiles;
    std::vector<QLabel*> m_notes;
    bool m_liveGrid = false;
    EvidenceSettings m_evidenceSettings;
    bool m_editable = true;
    int m_focusedCell = 0;

    // A press becomes a drag once it moves, else a tap once the double-click time has passed
    // without a second click (which toggles full screen instead).
    std::optional<QPoint> m_pressAt;
    int m_pressedCell = -1;
    QTimer m_tapTimer;

    QTimer m_frameLog;
    QTimer m_firstPictureWatch;
    QElapsedTimer m_sinceShown;
    QElapsedTimer m_sinceWatched;  // since the cells were last (re)filled
    std::vector<int> m_paintedAtShow;
    int m_cellsPainted = 0;  // the most cells with a picture since the show, and since when
    qint64 m_lastFirstPicture_ms = 0;
    std::optional<qint64> m_firstPictures_ms;
};

}  // namespace krt
