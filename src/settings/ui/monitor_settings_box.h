#pragma once

#include <QGroupBox>
#include <chrono>

class QCheckBox;
class QSpinBox;

namespace krt {

// The alarm monitor's part of the Settings tab: how long an alarm holds its cell after its last
// repeat ("MonitorHoldSeconds") and whether the alert stays away while the monitor is open to
// show the camera ("MonitorHidesAlerts"). A change is stored and takes effect at once.
class MonitorSettingsBox : public QGroupBox {
    Q_OBJECT

  public:
    explicit MonitorSettingsBox(QWidget* parent = nullptr);

    std::chrono::seconds hold() const;
    bool hidesAlerts() const;

    QSpinBox* holdBox() const { return m_hold; }
    QCheckBox* hidesAlertsBox() const { return m_hidesAlerts; }

  signals:
    void holdChanged(std::chrono::seconds hold);

  private:
    void store();

    QSpinBox* m_hold;
    QCheckBox* m_hidesAlerts;
};

}  // namespace krt
