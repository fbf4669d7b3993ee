#include "settings/ui/monitor_settings_box.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QSpinBox>

#include "common/ui/settings_store.h"

namespace krt {
namespace {

constexpr const SettingRow& kHold = settingRow(Setting::MonitorHoldSeconds);

}  // namespace

MonitorSettingsBox::MonitorSettingsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Alarm monitor"), parent),
      m_hold(new QSpinBox(this)),
      m_hidesAlerts(new QCheckBox(QStringLiteral("No alert for cameras the monitor shows"), this)) {
    m_hold->setObjectName(QStringLiteral("monitorHold"));
    m_hold->setRange(kHold.least, kHold.most);
    m_hold->setSuffix(QStringLiteral(" s"));
    m_hold->setValue(settingValue<Setting::MonitorHoldSeconds>());
    m_hidesAlerts->setChecked(settingValue<Setting::MonitorHidesAlerts>());
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Hold an alarm's cell for"), m_hold);
    layout->addRow(m_hidesAlerts);
    // Connected after the values are shown, so that showing them stores nothing.
    m_hold->setKeyboardTracking(false);
    connect(m_hold, &QSpinBox::valueChanged, this, &MonitorSettingsBox::store);
    connect(m_hidesAlerts, &QCheckBox::toggled, this, &MonitorSettingsBox::store);
    adjustSize();
}

std::chrono::seconds MonitorSettingsBox::hold() const {
    return std::chrono::seconds(m_hold->value());
}

bool MonitorSettingsBox::hidesAlerts() const {
    return m_hidesAlerts->isChecked();
}

void MonitorSettingsBox::store() {
    replaceSettingValue<Setting::MonitorHoldSeconds>(m_hold->value());
    replaceSettingValue<Setting::MonitorHidesAlerts>(m_hidesAlerts->isChecked());
    emit holdChanged(hold());
}

}  // namespace krt
