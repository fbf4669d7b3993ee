#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string_view>

#include "alarms/alarm_event.h"
#include "alarms/alert_cooldown.h"
#include "alarms/ui/events_page.h"
#include "app/ui/alarm_monitor_window.h"
#include "common/app_state.h"
#include "video/ui/live_view.h"
#include "video/ui/video_page.h"
#include "video/view_state.h"

class QLabel;
class QSoundEffect;
class QTabWidget;
class QTimer;

namespace krt {

class AlarmTrayIcon;
class AboutPage;
class DesktopNotifier;
class EventAlertDialog;
class ServerSessions;
class SettingsPage;
struct KeptSnapshot;

// The tabbed main window that runs while the user is logged in: "Videos", "Alarms",
// "Settings", "About". Closing it, after the user confirms, ends the program; Escape never
// does. It also shows the event alert, and tells the desktop of alerts while it is not active.
class MainSheet : public QDialog, public EventAlertSink {
    Q_OBJECT

  public:
    // Shows the channel (its index in its server's channel table) alone on the Videos page.
    using AlarmVideoHook = std::function<void(const AppState& server, int channelIndex)>;
    // Asks the user a yes/no question; true for yes.
    using CloseQuestion = std::function<bool(const QString& question)>;

    explicit MainSheet(const AppState& app, QWidget* parent = nullptr);
    ~MainSheet() override;
    MainSheet(const MainSheet&) = delete;
    MainSheet& operator=(const MainSheet&) = delete;

    // Set by the login before the sheet runs.
    int m_gridRows = 2;
    int m_gridColumns = 2;

    // Called for every stored event, with its decoded snapshot (null when there is none):
    // when alerts are on and the camera's cooldown for this alarm has passed, the alert shows
    // this event shortly (events that follow within that time replace it).
    void queueEventAlert(const AlarmEvent& event,
                         std::shared_ptr<const KeptSnapshot> snapshot) override;
    // "Show Video": the channel of the camera's server whose ChannelID equals the camera's,
    // ignoring letter case, is shown alone on the Videos page, which comes to the front. No
    // match does nothing.
    void showAlarmVideo(const CameraRef& camera);
    // The operator's other servers: their cameras and alarms join the session as each logs in,
    // and the status line names every server's state.
    // Servers added on the Settings page join at once.
    void attachServers(ServerSessions& servers);
    // The Videos page's by default; tests put their own.
    void setAlarmVideoHook(AlarmVideoHook hook);
    // A message box by default; tests answer it themselves.
    void setCloseQuestion(CloseQuestion question);

    // What to show once the sheet is up: the command line's request, or with none the view
    // of the last exit. Set before the sheet is shown.
    void setStartRequest(const StartRequest& request) { m_startRequest = request; }
    // The view now, as the next start will restore it; written to the settings every few
    // seconds when it changed, and at the end.
    ViewState viewState() const;
    void saveViewState();

    QTabWidget* tabs() const { return m_tabs; }
    LiveView* liveView() const { return m_liveView; }
    VideoPage* videoPage() const { return m_videoPage; }
    EventsPage* eventsPage() const { return m_eventsPage; }
    SettingsPage* settingsPage() const { return m_settingsPage; }
    AboutPage* aboutPage() const { return m_aboutPage; }
    // Opens the alarm monitor, or brings it to the front; full screen on that screen when given.
    void openAlarmMonitor(std::optional<int> fullScreenOn = std::nullopt);
    // Null while it is not open.
    AlarmMonitorWindow* alarmMonitor() const { return m_alarmMonitor; }
    // Null until the first alert.
    EventAlertDialog* alertWindow() const { return m_alertWindow; }
    // The alarm channel's state, under the tabs so that every tab shows it.
    QLabel* alarmStatusLabel() const { return m_alarmStatus; }
    QSoundEffect* alertSound() const { return m_alertSound; }
    AlarmTrayIcon* trayIcon() const { return m_trayIcon; }
    DesktopNotifier* desktopNotifier() const { return m_notifier; }

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct PendingAlert {
        AlarmEvent event;
        std::shared_ptr<const KeptSnapshot> snapshot;
    };

    void applyStoredSettings();
    void showPendingAlert();
    void placeAlert();
    void addAlarmStatusIndicator();
    void showAlarmChannelStatus(const AlarmChannelStatus& status);
    void refreshAlarmStatus();
    // With several servers: each one's state, the first's included.
    std::string serverStatesLine(AlarmChannelStatus::Clock::time_point now) const;
    // Another server is not logged in or its alarm channel not subscribed.
    bool anotherServerDown() const;
    // A recording that stopped by itself is told on the status line until one starts again.
    void connectRecordingStops();
    // The grid and live-grid choices of the Settings tab act on the Videos page at once.
    void connectVideoSettings();
    // The History's Show Video and unreviewed count, and the Settings page's retention.
    void connectJournal();
    void showUnreviewedCount(int count);
    void showStartView();
    void placeOnScreen(int screen);

    const AppState& m_app;
    QTabWidget* m_tabs;
    LiveView* m_liveView;
    VideoPage* m_videoPage;
    EventsPage* m_eventsPage;
    AboutPage* m_aboutPage;
    SettingsPage* m_settingsPage;
    bool m_initialised = false;

    EventAlertDialog* m_alertWindow = nullptr;
    PendingAlert m_pendingAlert;
    AlertCooldown m_alertCooldown;
    QTimer* m_alertTimer;  // ALERT_TIMER
    QSoundEffect* m_alertSound;
    AlarmTrayIcon* m_trayIcon;
    DesktopNotifier* m_notifier;
    AlarmVideoHook m_alarmVideoHook;
    QLabel* m_alarmStatus = nullptr;
    QTimer* m_alarmStatusTimer = nullptr;  // counts down the next attempt while retrying
    AlarmChannelStatus m_alarmChannelStatus;
    ServerSessions* m_servers = nullptr;
    std::string m_recordingStopped;
    std::string m_monitorClosed;  // while the operator has closed the alarm monitor
    CloseQuestion m_closeQuestion;
    QPointer<AlarmMonitorWindow> m_alarmMonitor;
    StartRequest m_startRequest;
    std::string m_savedView;
    QTimer* m_viewSaveTimer;
};

}  // namespace krt
