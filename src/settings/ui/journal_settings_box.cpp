#include "settings/ui/journal_settings_box.h"

#include <QFormLayout>
#include <QSpinBox>

#include "common/ui/settings_store.h"

namespace krt {
namespace {

constexpr const SettingRow& kMaxAlarms = settingRow(Setting::JournalMaxAlarms);
constexpr const SettingRow& kMaxDays = settingRow(Setting::JournalMaxDays);
// The journal opens with its own defaults before the settings are read.
static_assert(JournalLimits{}.maxAlarms == kMaxAlarms.fallback &&
              JournalLimits{}.maxDays == kMaxDays.fallback);

}  // namespace

JournalSettingsBox::JournalSettingsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Alarm journal"), parent),
      m_maxAlarms(new QSpinBox(this)),
      m_maxDays(new QSpinBox(this)) {
    m_maxAlarms->setObjectName(QStringLiteral("journalMaxAlarms"));
    m_maxDays->setObjectName(QStringLiteral("journalMaxDays"));
    m_maxAlarms->setRange(kMaxAlarms.least, kMaxAlarms.most);
    m_maxAlarms->setSingleStep(1000);
    m_maxAlarms->setSuffix(QStringLiteral(" alarms"));
    m_maxDays->setRange(kMaxDays.least, kMaxDays.most);
    m_maxDays->setSuffix(QStringLiteral(" days"));
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Keep at most"), m_maxAlarms);
    layout->addRow(QStringLiteral("Keep for"), m_maxDays);
    load();
    // Connected after the load, so that showing the stored values stores nothing.
    for (QSpinBox* box : {m_maxAlarms, m_maxDays}) {
        connect(box, &QSpinBox::valueChanged, this, &JournalSettingsBox::store);
    }
    adjustSize();
}

void JournalSettingsBox::load() {
    const QSignalBlocker alarms(m_maxAlarms);
    const QSignalBlocker days(m_maxDays);
    m_maxAlarms->setValue(settingValue<Setting::JournalMaxAlarms>());
    m_maxDays->setValue(settingValue<Setting::JournalMaxDays>());
}

JournalLimits JournalSettingsBox::limits() const {
    return {m_maxAlarms->value(), m_maxDays->value()};
}

void JournalSettingsBox::store() {
    replaceSettingValue<Setting::JournalMaxAlarms>(m_maxAlarms->value());
    replaceSettingValue<Setting::JournalMaxDays>(m_maxDays->value());
    emit limitsChanged(m_maxAlarms->value(), m_maxDays->value());
}

}  // namespace krt
