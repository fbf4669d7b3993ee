#include "alarms/ui/events_page.h"

#include <QFont>
#include <QTimer>

#include "alarms/alarm_handler.h"
#include "alarms/ui/events_list.h"

namespace krt {
namespace {

constexpr int kPageFontPixels = 12;

}  // namespace

DEventsPage::DEventsPage(const KRTApp& app, QWidget* parent)
    : QWidget(parent), m_retryTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("DEventsPage"));
    setWindowTitle(QStringLiteral("Alarms"));
    connect(m_retryTimer, &QTimer::timeout, this, &DEventsPage::OnRetryTimer);
    m_alarmChannel = std::make_unique<kmKRTAlarmHandlerC>(app, *this);
    m_alarmChannel->requestAlarmRestart();
}

DEventsPage::~DEventsPage() {
    stopAlarmChannel();
}

void DEventsPage::stopAlarmChannel() {
    m_alarmChannel.reset();
}

EventRing DEventsPage::ring() const {
    return m_alarmChannel ? m_alarmChannel->ring() : EventRing();
}

void DEventsPage::showEvent(QShowEvent* event) {
    if (m_eventList == nullptr) {
        OnInitDialog();
    }
    QWidget::showEvent(event);
}

void DEventsPage::OnInitDialog() {
    m_eventList = new kmCustomEventsList(this);
    m_eventList->setGeometry(rect());
    m_eventList->attachRing([this] { return ring(); });
    m_eventList->attachSnapshots(&m_snapshots);
    // The list paints with the application's font whatever the page uses.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kPageFontPixels);
    setFont(font);
    m_eventList->show();
}

void DEventsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_eventList != nullptr) {
        m_eventList->setGeometry(rect());
    }
}

void DEventsPage::queueEventAlert(std::string_view, std::string_view, std::string_view) {
    // The alert goes out with the stored event once its snapshot is decoded (eventStored).
}

void DEventsPage::eventStored(const AlarmEvent& event) {
    // Decoded here, on the channel's thread, once: the list and the alert only draw it.
    std::shared_ptr<const KeptSnapshot> snapshot = loadKeptSnapshot(event.imagePath);
    postToGuiThread([this, event, snapshot = std::move(snapshot)]() mutable {
        OnEventStored(event, std::move(snapshot));
    });
}

void DEventsPage::OnEventStored(const AlarmEvent& event,
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

void DEventsPage::channelStatusChanged(const AlarmChannelStatus& status) {
    postToGuiThread([this, status] {
        m_channelStatus = status;
        emit alarmChannelStatusChanged(status);
    });
}

void DEventsPage::setRetryTimer(int, int period_ms) {
    postToGuiThread([this, period_ms] { m_retryTimer->start(period_ms); });
}

void DEventsPage::killRetryTimer(int) {
    postToGuiThread([this] { m_retryTimer->stop(); });
}

void DEventsPage::OnRetryTimer() {
    if (m_alarmChannel) {
        m_alarmChannel->requestAlarmRestart();
    }
}

void DEventsPage::postToGuiThread(std::function<void()> work) {
    // Work still queued when the page goes is dropped with it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

}  // namespace krt
