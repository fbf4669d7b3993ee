#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/app_state.h"
#include "layouts/layout_book.h"
#include "layouts/tour_schedule.h"
#include "tile/video_settings.h"
#include "video/view_state.h"

class QComboBox;
class QLabel;
class QMessageBox;
class QStackedWidget;
class QToolButton;

namespace krt {

class CameraList;
class LayoutGrid;
class LayoutWindow;
class VideoPage;

// The "Videos" tab: the built-in layout "All cameras" (the paged grid of VideoPage, with its
// single view) and the named layouts, chosen from a list or with Alt+1...9 (Alt+0 for "All
// cameras"). Layouts are built by dragging cameras from the camera list beside them, and
// kept in their own file. A tour cycles through layouts by itself; a layout can be opened
// in a window of its own.
class LiveView : public QWidget {
    Q_OBJECT

  public:
    // After this long without a key or a click, a tour paused by the user goes on.
    static constexpr std::chrono::seconds kTourIdle{30};
    static constexpr int kTourTick_ms = 250;

    LiveView(const AppState& app, std::filesystem::path layoutsFile, QWidget* parent = nullptr);
    ~LiveView() override;
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    VideoPage* videoPage() const { return m_videoPage; }
    LayoutGrid* layoutGrid() const { return m_grid; }
    CameraList* cameraList() const { return m_cameras; }
    QComboBox* layoutList() const { return m_layoutList; }
    QLabel* tourMark() const { return m_tourMark; }
    const LayoutBook& book() const { return m_book; }
    // The message about a layouts file that could not be read or written; null until then.
    QMessageBox* fileMessage() const { return m_fileMessage; }
    const std::vector<QPointer<LayoutWindow>>& extraWindows() const { return m_windows; }

    // The layout shown ("All cameras" or a name); false for a name that does not exist.
    bool showLayout(std::string_view name);
    const std::string& currentLayout() const { return m_current; }
    // Single view of the camera, whatever layout is shown; leaving it comes back to that.
    void showChannelAt(int channelIndex);
    // The camera at that place in its server's table, alone on the Videos page.
    void showCameraAlone(const AppState& server, int channelIndex);
    // The server of that name logged in, or its state changed: the cells of its cameras show
    // them, the camera list lists them.
    void refreshServers();
    void setLiveGrid(bool liveGrid);
    // Where every tile saves its snapshots and clips, and how long it may record.
    void setEvidenceSettings(const EvidenceSettings& settings);
    void setFullScreen(bool on);
    // The camera list beside the page, for building the layout shown.
    void setEditing(bool on);

    // Layout changes; each is saved at once. An error text, or nothing.
    std::optional<std::string> createLayout(std::string_view name, std::string_view templateId);
    std::optional<std::string> renameLayout(std::string_view newName);
    std::optional<std::string> duplicateLayout(std::string_view newName);
    void deleteLayout();
    void setTemplate(std::string_view templateId);
    void placeCamera(int cell, const CameraRef& camera);
    void swapCells(int first, int second);
    std::optional<std::string> putTour(const Tour& tour);

    // Tours: one at a time.
    bool startTour(std::string_view name);
    void stopTour();
    void toggleTourHold();
    bool tourRunning() const { return m_tour.has_value(); }
    // An alarm of that camera: shown for the tour's time when its tour lets alarms in.
    void noteAlarm(const CameraRef& camera);

    LayoutWindow* openInNewWindow(std::string_view layout);

    // What is shown, to be shown again at the next start.
    WindowView view() const;
    void restoreView(const WindowView& view);
    std::vector<WindowView> extraWindowViews() const;
    void restoreExtraWindows(const std::vector<WindowView>& views);

  signals:
    // The Layouts menu's "Alarm monitor".
    void alarmMonitorRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct RunningTour {
        Tour tour;
        TourClock clock;
        std::optional<TourStop> shown;
    };

    QWidget* makeToolBar();
    void refreshLayoutList();
    void saveBook();
    void showFileMessage(const std::string& text);
    void applyToShownLayout();
    void showAllCameras(std::optional<int> page);
    void openCellAlone(int cell);
    bool returnFromSingleView();
    void enterFullScreenChanged(bool on);
    void tourTick();
    void showTourStop(const TourStop& stop);
    void refreshTourMark();
    void placeOverlay();
    void askNewLayout();
    void askRename();
    void askDuplicate();
    void askDelete();
    void askTour(const Tour* existing);
    void fillLayoutMenu();
    void fillTourMenu();
    int allCamerasPages() const;

    const AppState& m_app;
    std::filesystem::path m_layoutsFile;
    LayoutBook m_book;
    bool m_bookWritable = true;
    std::string m_current{kAllCamerasLayout};
    // The layout the single view was opened from, to go back to.
    std::optional<std::string> m_returnLayout;

    QWidget* m_toolBar = nullptr;
    QComboBox* m_layoutList = nullptr;
    QToolButton* m_layoutButton = nullptr;
    QToolButton* m_editButton = nullptr;
    QToolButton* m_tourButton = nullptr;
    QComboBox* m_templateList = nullptr;
    QStackedWidget* m_stack;
    VideoPage* m_videoPage;
    LayoutGrid* m_grid;
    CameraList* m_cameras;
    QLabel* m_tourMark;
    QMessageBox* m_fileMessage = nullptr;
    bool m_editing = false;
    bool m_liveGrid = false;
    EvidenceSettings m_evidenceSettings;

    std::optional<RunningTour> m_tour;
    QTimer m_tourTimer;
    std::vector<QPointer<LayoutWindow>> m_windows;
};

}  // namespace krt
