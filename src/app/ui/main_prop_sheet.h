#pragma once

#include <QDialog>
#include <string_view>

#include "app/app_state.h"

class QTabWidget;

namespace krt {

class DAboutPage;
class DSettingsPage;
class DVideoPage;

// The tabbed main window that runs while the user is logged in: "Videos", "Alarms",
// "Settings", "About". Closing it ends the program.
class DMainPropSheet : public QDialog {
    Q_OBJECT

  public:
    explicit DMainPropSheet(const KRTApp& app, QWidget* parent = nullptr);

    // Set by the login before the sheet runs.
    int m_channelCount = 0;
    int m_gridRows = 2;
    int m_gridColumns = 2;

    // "Show Video": the channel whose ChannelID equals the text, ignoring letter case, is
    // shown alone on the Videos page, which comes to the front. No match does nothing.
    void showAlarmVideo(std::string_view channelId);

    QTabWidget* tabs() const { return m_tabs; }
    DVideoPage* videoPage() const { return m_videoPage; }
    DSettingsPage* settingsPage() const { return m_settingsPage; }
    DAboutPage* aboutPage() const { return m_aboutPage; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnInitDialog();

    QTabWidget* m_tabs;
    DVideoPage* m_videoPage;
    QWidget* m_eventsPage;
    DAboutPage* m_aboutPage;
    DSettingsPage* m_settingsPage;
    bool m_initialised = false;
};

}  // namespace krt
