#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "alarms/alarm_channel_owner.h"
#include "alarms/event_ring.h"
#include "alarms/ui/snapshot_store.h"
#include "common/app_state.h"
#include "journal/alarm_journal.h"

class QSplitter;
class QTimer;

namespace krt {

class EventList;
class AlarmChannel;
class HistoryView;

// Takes the alert of every stored event, with its decoded snapshot (null when there is
// none), on the GUI thread (the main sheet shows it).
class EventAlertSink {
  public:
    virtual void queueEventAlert(const AlarmEvent& event,
                                 std::shared_ptr<const KeptSnapshot> snapshot) = 0;

  protected:
    ~EventAlertSink() = default;
};

// The "Alarms" tab. It owns the alarm channel, which starts with the page, and the alarm
// journal it writes (where the application state names a folder for it); it shows the
// History of the journal above the event list of the six newest. The channel's threads reach
// the page only through the owner interface, which hands every piece of work to the GUI
// thread.
class EventsPage : public QWidget, public AlarmChannelOwner {
    Q_OBJECT

  public:
    explicit EventsPage(const AppState& app, QWidget* parent = nullptr);
    ~EventsPage() override;
    EventsPage(const EventsPage&) = delete;
    EventsPage& operator=(const EventsPage&) = delete;

    // Set by the main sheet when it initialises; alerts go to it from then on.
    std::atomic<EventAlertSink*> alertSink{nullptr};

    // Stops the channel and deletes its snapshots. The main sheet calls it before it goes,
    // because the channel's threads call into the sheet.
    void stopAlarmChannel();

    // A copy of the kept events; empty once the channel has stopped.
    EventRing ring() const;
    // The kept events' snapshots, decoded once as they arrive.
    const SnapshotStore& snapshots() const { return m_snapshots; }
    // The list window, created when the page is first shown; null before.
    EventList* eventList() const { return m_eventList; }
    // ALARM_RETRY_TIMER.
    const QTimer* retryTimer() const { return m_retryTimer; }
    // The History; null without a journal.
    HistoryView* history() const { return m_history; }
    // Alarms of the journal nobody has reviewed (0 without a journal).
    int unreviewedCount() const;
    // The Settings page's retention, applied at once.
    void setJournalLimits(JournalLimits limits);
    // The alarm channel's last reported state (GUI thread).
    const AlarmChannelStatus& channelStatus() const { return m_channelStatus; }

    // Another server of the operator's list logged in: its alarms come in too, into the same
    // journal, list and alerts. The state must outlive the page.
    void addServer(const AppState& server);
    struct ServerAlarmStatus {
        std::string name;
        AlarmChannelStatus status;
    };
    // The other servers' alarm channels, in the order they were added (GUI thread).
    std::vector<ServerAlarmStatus> otherServerStatuses() const;

  signals:
    // Emitted on the GUI thread after every report of the channel.
    void alarmChannelStatusChanged(const krt::AlarmChannelStatus& status);
    // The History's "Show Video"; `server` as the operator's list names it, empty: the first.
    void showVideoRequested(const QString& server, const QString& channelId);
    void unreviewedCountChanged(int count);
    // Another server's alarm channel reported.
    void otherServerStatusChanged();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // AlarmChannelOwner, called on the channel's threads.
    void queueEventAlert(std::string_view alarmName, std::string_view channelId,
                         std::string_view timeText) override;
    void eventStored(const AlarmEvent& event, std::span<const char> bytes) override;
    void channelStatusChanged(const AlarmChannelStatus& status) override;
    void setRetryTimer(int timerId, int period_ms) override;
    void killRetryTimer(int timerId) override;

    void createEventList();
    void addHistory(const AppState& app);
    void refreshHistorySoon();
    void retryAlarmChannel();
    void postToGuiThread(std::function<void()> work);
    void showStoredEvent(const AlarmEvent& event, std::shared_ptr<const KeptSnapshot> snapshot);

    class OtherServerAlarms;
    friend class OtherServerAlarms;

    SnapshotStore m_snapshots;
    QSplitter* m_splitter;
    HistoryView* m_history = nullptr;
    EventList* m_eventList = nullptr;  // the list is ready once it exists
    QTimer* m_retryTimer;
    QTimer* m_historyRefresh;
    std::shared_ptr<AlarmJournal> m_journal;
    AlarmChannelStatus m_channelStatus;
    std::unique_ptr<AlarmChannel> m_alarmChannel;
    std::vector<std::unique_ptr<OtherServerAlarms>> m_otherAlarms;
};

}  // namespace krt
