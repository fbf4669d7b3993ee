#pragma once

#include <QGroupBox>

#include "journal/alarm_journal.h"

class QSpinBox;

namespace krt {

// The alarm journal's part of the Settings tab: how many alarms it keeps, for how many days and
// in how much space ("JournalMaxAlarms", "JournalMaxDays", "JournalMaxMiB"). A change is stored
// and takes effect at once.
class JournalSettingsBox : public QGroupBox {
    Q_OBJECT

  public:
    explicit JournalSettingsBox(QWidget* parent = nullptr);

    // Shows the stored values (a missing or unreadable one: its default).
    void load();
    JournalLimits limits() const;

    QSpinBox* maxAlarmsBox() const { return m_maxAlarms; }
    QSpinBox* maxDaysBox() const { return m_maxDays; }
    QSpinBox* maxSizeBox() const { return m_maxSize; }

  signals:
    void limitsChanged(const JournalLimits& limits);

  private:
    void store();

    QSpinBox* m_maxAlarms;
    QSpinBox* m_maxDays;
    QSpinBox* m_maxSize;
};

}  // namespace krt
