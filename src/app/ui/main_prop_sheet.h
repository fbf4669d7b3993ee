#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <mutex>
#include <string_view>

#include "alarms/ui/events_page.h"
#include "common/app_state.h"
#include "video/ui/video_page.h"

class QLabel;
class QSoundEffect;
class QTabWidget;
class QTimer;

namespace krt {

class DAboutPage;
class DEventsAlertDlg;
class DSettingsPage;

// The tabbed main window that runs while the user is logged in: "Videos", "Alarms",
// "Settings", "About". Closing it ends the program. It also shows the event alert.
class DMainPropSheet : public QDialog, public EventAlertSink {
    Q_OBJECT

  public:
    // Shows the channel (its index in the channel table) alone on the Videos page.
    using AlarmVideoHook = std::function<void(int channelIndex)>;

    explicit DMainPropSheet(const KRTApp& app, QWidget* parent = nullptr);
    ~DMainPropSheet() override;
    DMainPropSheet(const DMainPropSheet&) = delete;
    DMainPropSheet& operator=(const DMainPropSheet&) = delete;

    // Set by the login before the sheet runs.
    int m_gridRows = 2;
    int m_gridColumns = 2;

    // Called on the alarm thread for every stored event: when alerts are on, the alert shows
    // this event shortly on the GUI thread (events that follow within that time replace it).
    void queueEventAlert(std::string_view alarmName, std::string_view channelId,
                         std::string_view timeText) override;
    // "Show Video": the channel whose ChannelID equals the text, ignoring letter case, is
    // shown alone on the Videos page, which comes to the front. No match does nothing.
    void showAlarmVideo(std::string_view channelId);
    // The Videos page's by default; tests put their own.
    void setAlarmVideoHook(AlarmVideoHook hook);

    QTabWidget* tabs() const { return m_tabs; }
    DVideoPage* videoPage() const { return m_videoPage; }
    DEventsPage* eventsPage() const { return m_eventsPage; }
    DSettingsPage* settingsPage() const { return m_settingsPage; }
    DAboutPage* aboutPage() const { return m_aboutPage; }
    // Null until the first alert.
    DEventsAlertDlg* alertWindow() const { return m_alertWindow; }
    // The alarm channel's state, under the tabs so that every tab shows it.
    QLabel* alarmStatusLabel() const { return m_alarmStatus; }
    QSoundEffect* alertSound() const { return m_alertSound; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct AlertTexts {
        QString type;
        QString time;
        QString source;
    };

    void OnInitDialog();
    void OnAlertTimer();
    void addAlarmStatusIndicator();
    void showAlarmChannelStatus(const AlarmChannelStatus& status);
    void refreshAlarmStatus();
    // The grid and live-grid choices of the Settings tab act on the Videos page at once.
    void connectVideoSettings();

    const KRTApp& m_app;
    QTabWidget* m_tabs;
    DVideoPage* m_videoPage;
    DEventsPage* m_eventsPage;
    DAboutPage* m_aboutPage;
    DSettingsPage* m_settingsPage;
    bool m_initialised = false;

    DEventsAlertDlg* m_alertWindow = nullptr;
    std::mutex m_alertMutex;
    AlertTexts m_alertTexts;  // guarded by m_alertMutex
    QTimer* m_alertTimer;     // ALERT_TIMER
    QSoundEffect* m_alertSound;
    AlarmVideoHook m_alarmVideoHook;
    QLabel* m_alarmStatus = nullptr;
    QTimer* m_alarmStatusTimer = nullptr;  // counts down the next attempt while retrying
    AlarmChannelStatus m_alarmChannelStatus;
};

}  // namespace krt
