#include "settings/ui/journal_settings_box.h"

#include <QFormLayout>
#include <QSpinBox>
#include <array>
#include <span>
#include <string>

#include "common/ui/settings_store.h"

namespace krt {
namespace {

constexpr std::size_t kStoredTextBytes = 256;

std::string storedText(std::string_view valueName) {
    std::array<char, kStoredTextBytes + 1> text{};  // one more for the terminator
    readRegistryString(kSettingsKey, valueName, std::span(text.data(), kStoredTextBytes));
    return text.data();
}

void storeText(std::string_view valueName, const std::string& text) {
    deleteRegistryValue(kSettingsKey, valueName);
    writeRegistryString(kSettingsKey, valueName, text);
}

}  // namespace

JournalSettingsBox::JournalSettingsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Alarm journal"), parent),
      m_maxAlarms(new QSpinBox(this)),
      m_maxDays(new QSpinBox(this)) {
    m_maxAlarms->setObjectName(QStringLiteral("journalMaxAlarms"));
    m_maxDays->setObjectName(QStringLiteral("journalMaxDays"));
    m_maxAlarms->setRange(kJournalAlarmsRange.first, kJournalAlarmsRange.second);
    m_maxAlarms->setSingleStep(1000);
    m_maxAlarms->setSuffix(QStringLiteral(" alarms"));
    m_maxDays->setRange(kJournalDaysRange.first, kJournalDaysRange.second);
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
    const JournalLimits stored =
        journalLimitsFromText(storedText(kJournalMaxAlarmsValue), storedText(kJournalMaxDaysValue));
    const QSignalBlocker alarms(m_maxAlarms);
    const QSignalBlocker days(m_maxDays);
    m_maxAlarms->setValue(stored.maxAlarms);
    m_maxDays->setValue(stored.maxDays);
}

JournalLimits JournalSettingsBox::limits() const {
    return {m_maxAlarms->value(), m_maxDays->value()};
}

void JournalSettingsBox::store() {
    storeText(kJournalMaxAlarmsValue, std::to_string(m_maxAlarms->value()));
    storeText(kJournalMaxDaysValue, std::to_string(m_maxDays->value()));
    emit limitsChanged(m_maxAlarms->value(), m_maxDays->value());
}

}  // namespace krt
