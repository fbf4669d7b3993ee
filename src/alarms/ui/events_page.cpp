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
    m_alarmChannel.reset();
}

EventRing EventsPage::ring() const {
    return m_alarmChannel ? m_alarmChannel->ring() : EventRing();
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
