#include "alarms/ui/events_page.h"

#include <QFont>
#include <QSplitter>
#include <QTimer>
#include <span>

#include "alarms/alarm_channel.h"
#include "alarms/ui/event_list.h"
#include "alarms/ui/history_view.h"
#include "common/ui/settings_store.h"

namespace krt {
namespace {

constexpr int kPageFontPixels = 12;
constexpr int kHistoryRefresh_ms = 500;

// The Settings page's retention of the journal.
JournalLimits loadJournalLimits() {
    return {settingValue<Setting::JournalMaxAlarms>(), settingValue<Setting::JournalMaxDays>(),
            settingValue<Setting::JournalMaxMiB>()};
}

}  // namespace

// The alarm channel of one of the operator's other servers, writing into the page's journal.
// Its reports reach the page as the first server's do, on the GUI thread; those still queued
// when it has gone find it no more.
class EventsPage::OtherServerAlarms : public AlarmChannelOwner {
  public:
    OtherServerAlarms(EventsPage& page, const AppState& server, std::size_t index)
        : m_page(page),
          m_index(index),
          m_name(server.m_serverName),
          m_channel(std::make_unique<AlarmChannel>(server, *this, SnapshotRetention::DeleteEvicted,
                                                   kAlarmRetryPeriod_ms, page.m_journal,
                                                   server.m_serverName)) {
        QObject::connect(&m_retryTimer, &QTimer::timeout, &m_retryTimer,
                         [this] { m_channel->requestAlarmRestart(); });
        m_channel->requestAlarmRestart();
    }
    ~OtherServerAlarms() override {
        // Its threads call this owner: they end first.
        m_channel.reset();
    }
    OtherServerAlarms(const OtherServerAlarms&) = delete;
    OtherServerAlarms& operator=(const OtherServerAlarms&) = delete;

    const std::string& name() const { return m_name; }
    const AlarmChannelStatus& status() const { return m_status; }
    EventRing ring() const { return m_channel->ring(); }

  private:
    void queueEventAlert(std::string_view, std::string_view, std::string_view) override {}
    void eventStored(const AlarmEvent& event, std::span<const char> bytes) override {
        m_page.eventStored(event, bytes);
    }
    void channelStatusChanged(const AlarmChannelStatus& status) override {
        onGuiThread([status](OtherServerAlarms& alarms) {
            alarms.m_status = status;
            emit alarms.m_page.otherServerStatusChanged();
            alarms.m_page.refreshHistorySoon();
        });
    }
    void setRetryTimer(int, int period_ms) override {
        onGuiThread(
            [period_ms](OtherServerAlarms& alarms) { alarms.m_retryTimer.start(period_ms); });
    }
    void killRetryTimer(int) override {
        onGuiThread([](OtherServerAlarms& alarms) { alarms.m_retryTimer.stop(); });
    }
    void onGuiThread(std::function<void(OtherServerAlarms&)> work) {
        m_page.postToGuiThread([page = &m_page, index = m_index, work = std::move(work)] {
            if (index < page->m_otherAlarms.size() && page->m_otherAlarms[index]) {
                work(*page->m_otherAlarms[index]);
            }
        });
    }

    EventsPage& m_page;
    std::size_t m_index;
    std::string m_name;
    QTimer m_retryTimer;
    AlarmChannelStatus m_status;
    std::unique_ptr<AlarmChannel> m_channel;
};

EventsPage::EventsPage(const AppState& app, QWidget* parent)
    : QWidget(parent),
      m_splitter(new QSplitter(Qt::Vertical, this)),
      m_retryTimer(new QTimer(this)),
      m_historyRefresh(new QTimer(this)) {
    setObjectName(QStringLiteral("DEventsPage"));
    setWindowTitle(QStringLiteral("Alarms"));
    connect(m_retryTimer, &QTimer::timeout, this, &EventsPage::retryAlarmChannel);
    m_splitter->setChildrenCollapsible(false);
    if (!app.m_journalFolder.empty()) {
        m_journal = std::make_shared<AlarmJournal>(app.m_journalFolder, AlarmJournal::Role::writer,
                                                   loadJournalLimits());
    }
    m_alarmChannel = std::make_unique<AlarmChannel>(app, *this, SnapshotRetention::DeleteEvicted,
                                                    kAlarmRetryPeriod_ms, m_journal);
    if (m_journal) {
        addHistory(app);
    }
    m_alarmChannel->requestAlarmRestart();
}

void EventsPage::addHistory(const AppState& app) {
    m_history = new HistoryView(m_journal->folder(), app.m_userName);
    m_splitter->addWidget(m_history);
    connect(m_history, &HistoryView::showVideoRequested, this, &EventsPage::showVideoRequested);
    connect(m_history, &HistoryView::unreviewedCountChanged, this,
            &EventsPage::unreviewedCountChanged);
    // Alarms that come in a burst are shown together, at most once in this while.
    m_historyRefresh->setSingleShot(true);
    m_historyRefresh->setInterval(kHistoryRefresh_ms);
    connect(m_historyRefresh, &QTimer::timeout, m_history, &HistoryView::refresh);
}

int EventsPage::unreviewedCount() const {
    return m_history != nullptr ? m_history->unreviewedCount() : 0;
}

void EventsPage::setJournalLimits(JournalLimits limits) {
    if (m_journal) {
        m_journal->setLimits(limits);
    }
}

void EventsPage::refreshHistorySoon() {
    if (m_history != nullptr && !m_historyRefresh->isActive()) {
        m_historyRefresh->start();
    }
}

EventsPage::~EventsPage() {
    stopAlarmChannel();
}

void EventsPage::stopAlarmChannel() {
    // Reset in place: reports still queued find no server.
    for (std::unique_ptr<OtherServerAlarms>& alarms : m_otherAlarms) {
        alarms.reset();
    }
    m_alarmChannel.reset();
}

void EventsPage::addServer(const AppState& server) {
    if (!m_alarmChannel) {
        return;
    }
    m_otherAlarms.push_back(
        std::make_unique<OtherServerAlarms>(*this, server, m_otherAlarms.size()));
    emit otherServerStatusChanged();
}

std::vector<EventsPage::ServerAlarmStatus> EventsPage::otherServerStatuses() const {
    std::vector<ServerAlarmStatus> statuses;
    for (const std::unique_ptr<OtherServerAlarms>& alarms : m_otherAlarms) {
        if (alarms) {
            statuses.push_back({alarms->name(), alarms->status()});
        }
    }
    return statuses;
}

EventRing EventsPage::ring() const {
    if (!m_alarmChannel) {
        return {};
    }
    EventRing first = m_alarmChannel->ring();
    if (m_otherAlarms.empty()) {
        return first;
    }
    // The six newest of every server: each server's channel keeps its own six, so these are
    // among them, their snapshots kept.
    std::vector<AlarmEvent> events;
    const auto collect = [&events](const EventRing& ring) {
        for (const int slot : ring.walkFromNewest()) {
            events.push_back(ring.events()[static_cast<std::size_t>(slot)]);
        }
    };
    collect(first);
    for (const std::unique_ptr<OtherServerAlarms>& alarms : m_otherAlarms) {
        if (alarms) {
            collect(alarms->ring());
        }
    }
    std::ranges::stable_sort(events, {}, &AlarmEvent::receivedTime);
    EventRing merged;
    const std::size_t kept = std::min(events.size(), std::size_t{EventRing::kCapacity});
    for (std::size_t k = events.size() - kept; k < events.size(); ++k) {
        merged.add(std::move(events[k]));
    }
    return merged;
}

void EventsPage::showEvent(QShowEvent* event) {
    if (m_eventList == nullptr) {
        createEventList();
    }
    QWidget::showEvent(event);
}

void EventsPage::createEventList() {
    m_eventList = new EventList;
    // Given the ring before its first size, which sets its scroll range from the events.
    m_eventList->attachRing([this] { return ring(); });
    m_eventList->attachSnapshots(&m_snapshots);
    m_splitter->addWidget(m_eventList);
    // The History takes what the six rows leave.
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setGeometry(rect());
    // The list paints with the application's font whatever the page uses.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kPageFontPixels);
    setFont(font);
    m_eventList->show();
}

void EventsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_splitter->setGeometry(rect());
}

void EventsPage::queueEventAlert(std::string_view, std::string_view, std::string_view) {
    // The alert goes out with the stored event once its snapshot is decoded (eventStored).
}

void EventsPage::eventStored(const AlarmEvent& event, std::span<const char> bytes) {
    // Decoded here, on the channel's thread, once, from what was received rather than from
    // the file, which a full disk may have kept from being written: the list and the alert
    // only draw it.
    std::shared_ptr<const KeptSnapshot> snapshot = keptSnapshot(bytes);
    postToGuiThread([this, event, snapshot = std::move(snapshot)]() mutable {
        showStoredEvent(event, std::move(snapshot));
    });
}

void EventsPage::showStoredEvent(const AlarmEvent& event,
                                 std::shared_ptr<const KeptSnapshot> snapshot) {
    m_snapshots.put(event.imagePath, snapshot);
    m_snapshots.keepOnly(ring());
    if (m_eventList != nullptr) {
        m_eventList->armRefreshTimer();
    }
    refreshHistorySoon();
    if (EventAlertSink* sink = alertSink.load()) {
        sink->queueEventAlert(event, std::move(snapshot));
    }
}

void EventsPage::channelStatusChanged(const AlarmChannelStatus& status) {
    postToGuiThread([this, status] {
        m_channelStatus = status;
        emit alarmChannelStatusChanged(status);
        refreshHistorySoon();  // an interval without reception began or ended
    });
}

void EventsPage::setRetryTimer(int, int period_ms) {
    postToGuiThread([this, period_ms] { m_retryTimer->start(period_ms); });
}

void EventsPage::killRetryTimer(int) {
    postToGuiThread([this] { m_retryTimer->stop(); });
}

void EventsPage::retryAlarmChannel() {
    if (m_alarmChannel) {
        m_alarmChannel->requestAlarmRestart();
    }
}

void EventsPage::postToGuiThread(std::function<void()> work) {
    // Work still queued when the page goes is dropped with it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

}  // namespace krt
