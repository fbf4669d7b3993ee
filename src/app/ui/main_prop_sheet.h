#pragma once

#include <QDialog>

class QTabWidget;

namespace krt {

class DAboutPage;
class DSettingsPage;

// The tabbed main window that runs while the user is logged in: "Videos", "Alarms",
// "Settings", "About". Closing it ends the program.
class DMainPropSheet : public QDialog {
    Q_OBJECT

  public:
    explicit DMainPropSheet(QWidget* parent = nullptr);

    // Set by the login before the sheet runs.
    int m_channelCount = 0;
    int m_gridRows = 2;
    int m_gridColumns = 2;

    QTabWidget* tabs() const { return m_tabs; }
    DSettingsPage* settingsPage() const { return m_settingsPage; }
    DAboutPage* aboutPage() const { return m_aboutPage; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnInitDialog();

    QTabWidget* m_tabs;
    QWidget* m_videoPage;
    QWidget* m_eventsPage;
    DAboutPage* m_aboutPage;
    DSettingsPage* m_settingsPage;
    bool m_initialised = false;
};

}  // namespace krt
