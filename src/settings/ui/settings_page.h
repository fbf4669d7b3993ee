#pragma once

#include <QWidget>
#include <atomic>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace krt {

class JournalSettingsBox;
class MonitorSettingsBox;
class ServersBox;
class VideoSettingsBox;

// The Settings tab: whether alarms pop up an alert and whether the alert plays its sound.
// The two members are the live settings; the alarm thread reads them.
class SettingsPage : public QWidget {
    Q_OBJECT

  public:
    explicit SettingsPage(QWidget* parent = nullptr);

    std::atomic<int> ShowAlerts{0};
    std::atomic<int> PlaySound{0};
    // Alarms of the same camera and name within this many seconds of its last alert are
    // listed without an alert; 0 alerts on every one.
    std::atomic<int> AlertCooldownSeconds{0};

    // The data exchange between the members and the check boxes.
    void updateMembersFromControls();
    void updateControlsFromMembers();

    void applyShowAlertsChoice();
    void save();

    QCheckBox* showAlertsBox() const { return m_showAlerts; }
    QCheckBox* playSoundBox() const { return m_playSound; }
    QPushButton* saveButton() const { return m_save; }
    QSpinBox* cooldownBox() const { return m_cooldown; }
    VideoSettingsBox* videoSettings() const { return m_videoSettings; }
    JournalSettingsBox* journalSettings() const { return m_journalSettings; }
    ServersBox* serversBox() const { return m_servers; }
    MonitorSettingsBox* monitorSettings() const { return m_monitorSettings; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setupCooldownField();
    void placeCooldownField();
    void storeCooldownField();
    // Centred under the other control.
    void placeBelow(QWidget* control, const QWidget* above);

    QCheckBox* m_showAlerts;
    QCheckBox* m_playSound;
    QPushButton* m_save;
    QLabel* m_cooldownBefore;
    QSpinBox* m_cooldown;
    QLabel* m_cooldownAfter;
    VideoSettingsBox* m_videoSettings;
    JournalSettingsBox* m_journalSettings;
    ServersBox* m_servers;
    MonitorSettingsBox* m_monitorSettings;
};

}  // namespace krt
