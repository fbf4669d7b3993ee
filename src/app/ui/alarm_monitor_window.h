#pragma once

#include <QTimer>
#include <optional>
#include <span>
#include <vector>

#include "alarms/alarm_event.h"
#include "alarms/alarm_monitor_policy.h"
#include "common/app_state.h"
#include "layouts/ui/layout_window.h"

class QLabel;
class QPushButton;

namespace krt {

// The alarm monitor: a window of alarm cells, each showing live the camera of an alarm, with
// the alarm's name, camera and time over it in the alarm colour, until its hold is over.
// Empty cells say what they wait for. What it shows is decided by nextMonitorState(); the
// window only carries it out. While the operator works in it (a key, click or wheel within
// the last 20 s) its cells stay as they are. Escape dismisses the focused alarm cell, P pins
// or unpins it.
class AlarmMonitorWindow : public LayoutWindow {
    Q_OBJECT

  public:
    static constexpr int kCells = 4;  // a 2 × 2 grid

    AlarmMonitorWindow(const AppState& app, QWidget* owner);
    ~AlarmMonitorWindow() override;
    AlarmMonitorWindow(const AlarmMonitorWindow&) = delete;
    AlarmMonitorWindow& operator=(const AlarmMonitorWindow&) = delete;

    // Decided with the alarms that follow within kGather_ms.
    void noteAlarm(const AlarmEvent& event);
    static constexpr int kGather_ms = 100;
    const MonitorState& monitorState() const { return m_state; }
    // How long an alarm holds its cell after its last repeat; the next alarms are held so.
    void setHold(std::chrono::seconds hold);
    // Each cell's caption as shown.
    QString cellCaption(int cell) const;
    QPushButton* moreButton() const { return m_more; }
    // The cell's frame flashes: its camera's alarm came again while the operator was busy.
    bool isPulsing(int cell) const;

  signals:
    // "+N more" was clicked: the History is to show the alarms received in that time.
    void moreAlarmsAsked(const QDateTime& from, const QDateTime& to);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void step(std::span<const AlarmEvent> alarms, std::span<const OperatorAction> actions = {});
    void showCells();
    void placeCaptions();
    // Escape and P act on the focused cell while it holds an alarm.
    bool actOnFocusedCell(int key);
    void showMoreAlarms();
    void pulse(const CameraRef& camera);
    void pulseTick();

    MonitorState m_state;
    std::vector<MonitorRule> m_rules;
    QTimer m_clock;  // holds end with time, not only with the next alarm
    // Alarms that come together are decided together: a burst fills the cells once with the
    // newest and counts the rest, instead of replacing cells one after another.
    QTimer m_gather;
    std::vector<AlarmEvent> m_incoming;
    std::optional<MonitorClock::time_point> m_lastUse;
    std::vector<QLabel*> m_frames;    // the alarm colour around a held cell
    std::vector<QLabel*> m_captions;  // what the cell shows or waits for
    std::vector<AlarmEvent> m_unshown;
    std::vector<MonitorClock::time_point> m_pulseUntil;  // of each cell
    QTimer m_pulseTimer;
    bool m_pulseLit = false;
    QPushButton* m_more;  // "+N more": a click shows them in the History
};

}  // namespace krt
