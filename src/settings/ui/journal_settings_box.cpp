#include "settings/ui/journal_settings_box.h"

#include <QFormLayout>
#include <QSpinBox>

#include "common/ui/settings_store.h"

namespace krt {
namespace {

constexpr const SettingRow& kMaxAlarms = settingRow(Setting::JournalMaxAlarms);
constexpr const SettingRow& kMaxDays = settingRow(Setting::JournalMaxDays);
constexpr const SettingRow& kMaxSize = settingRow(Setting::JournalMaxMiB);
// The journal opens with its own defaults before the settings are read.
static_assert(JournalLimits{}.maxAlarms == kMaxAlarms.fallback &&
              JournalLimits{}.maxDays == kMaxDays.fallback &&
              JournalLimits{}.maxSize_MiB == kMaxSize.fallback);

}  // namespace

JournalSettingsBox::JournalSettingsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Alarm journal"), parent),
      m_maxAlarms(new QSpinBox(this)),
      m_maxDays(new QSpinBox(this)),
      m_maxSize(new QSpinBox(this)) {
    m_maxAlarms->setObjectName(QStringLiteral("journalMaxAlarms"));
    m_maxDays->setObjectName(QStringLiteral("journalMaxDays"));
    m_maxSize->setObjectName(QStringLiteral("journalMaxSize"));
    m_maxAlarms->setRange(kMaxAlarms.least, kMaxAlarms.most);
    m_maxAlarms->setSingleStep(1000);
    m_maxAlarms->setSuffix(QStringLiteral(" alarms"));
    m_maxDays->setRange(kMaxDays.least, kMaxDays.most);
    m_maxDays->setSuffix(QStringLiteral(" days"));
    m_maxSize->setRange(kMaxSize.least, kMaxSize.most);
    m_maxSize->setSingleStep(1024);
    m_maxSize->setSuffix(QStringLiteral(" MiB"));
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Keep at most"), m_maxAlarms);
    layout->addRow(QStringLiteral("Keep for"), m_maxDays);
    layout->addRow(QStringLiteral("Use at most"), m_maxSize);
    load();
    // Connected after the load, so that showing the stored values stores nothing.
    for (QSpinBox* box : {m_maxAlarms, m_maxDays, m_maxSize}) {
        // A limit deletes alarms at once: the digits typed on the way to a number do not count.
        box->setKeyboardTracking(false);
        connect(box, &QSpinBox::valueChanged, this, &JournalSettingsBox::store);
    }
    adjustSize();
}

void JournalSettingsBox::load() {
    const QSignalBlocker alarms(m_maxAlarms);
    const QSignalBlocker days(m_maxDays);
    const QSignalBlocker size(m_maxSize);
    m_maxAlarms->setValue(settingValue<Setting::JournalMaxAlarms>());
    m_maxDays->setValue(settingValue<Setting::JournalMaxDays>());
    m_maxSize->setValue(settingValue<Setting::JournalMaxMiB>());
}

JournalLimits JournalSettingsBox::limits() const {
    return {m_maxAlarms->value(), m_maxDays->value(), m_maxSize->value()};
}

void JournalSettingsBox::store() {
    replaceSettingValue<Setting::JournalMaxAlarms>(m_maxAlarms->value());
    replaceSettingValue<Setting::JournalMaxDays>(m_maxDays->value());
    replaceSettingValue<Setting::JournalMaxMiB>(m_maxSize->value());
    emit limitsChanged(limits());
}

}  // namespace krt
