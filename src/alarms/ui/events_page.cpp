#include "alarms/ui/events_page.h"

#include <QFont>
#include <QTimer>

#include "alarms/alarm_channel.h"
#include "alarms/ui/event_list.h"

namespace krt {
namespace {

constexpr int kPageFontPixels = 12;

}  // namespace

EventsPage::EventsPage(const AppState& app, QWidget* parent)
    : QWidget(parent), m_retryTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("DEventsPage"));
    setWindowTitle(QStringLiteral("Alarms"));
    connect(m_retryTimer, &QTimer::timeout, this, &EventsPage::OnRetryTimer);
    m_alarmChannel = std::make_unique<AlarmChannel>(app, *this);
    m_alarmChannel->requestAlarmRestart();
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
        OnInitDialog();
    }
    QWidget::showEvent(event);
}

void EventsPage::OnInitDialog() {
    m_eventList = new EventList(this);
    m_eventList->setGeometry(rect());
    m_eventList->attachRing([this] { return ring(); });
    m_eventList->attachSnapshots(&m_snapshots);
    // The list paints with the application's font whatever the page uses.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kPageFontPixels);
    setFont(font);
    m_eventList->show();
}

void EventsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_eventList != nullptr) {
        m_eventList->setGeometry(rect());
    }
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
        OnEventStored(event, std::move(snapshot));
    });
}

void EventsPage::OnEventStored(const AlarmEvent& event,
                               std::shared_ptr<const KeptSnapshot> snapshot) {
    m_snapshots.put(event.imagePath, snapshot);
    m_snapshots.keepOnly(ring());
    if (m_eventList != nullptr) {
        m_eventList->armRefreshTimer();
    }
    if (EventAlertSink* sink = alertSink.load()) {
        sink->queueEventAlert(event, std::move(snapshot));
    }
}

void EventsPage::channelStatusChanged(const AlarmChannelStatus& status) {
    postToGuiThread([this, status] {
        m_channelStatus = status;
        emit alarmChannelStatusChanged(status);
    });
}

void EventsPage::setRetryTimer(int, int period_ms) {
    postToGuiThread([this, period_ms] { m_retryTimer->start(period_ms); });
}

void EventsPage::killRetryTimer(int) {
    postToGuiThread([this] { m_retryTimer->stop(); });
}

void EventsPage::OnRetryTimer() {
    if (m_alarmChannel) {
        m_alarmChannel->requestAlarmRestart();
    }
}

void EventsPage::postToGuiThread(std::function<void()> work) {
    // Work still queued when the page goes is dropped with it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

}  // namespace krt
