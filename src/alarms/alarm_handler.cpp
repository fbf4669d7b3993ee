#include "alarms/alarm_handler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "alarms/alarm_message.h"
#include "alarms/alarm_time.h"
#include "alarms/snapshot_file.h"
#include "protocol/diag_log.h"
#include "protocol/return_codes.h"
#include "protocol/xml_data.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
constexpr const char* kSubscribeSource = "kmKRTAlarmHandlerC::startReceivingAlarms()";
constexpr const char* kNotStarted = "Unable to start alarm notifications with server";
constexpr const char* kInvalidPushSource =
    "kmKRTAlarmHandlerC::fnCCResponseData() - Invalid Responce data from server.";
constexpr const char* kStopLabel = "DEventsPage::~DEventsPage()";
constexpr int kRestartThreadStop_ms = 1000;

constexpr std::chrono::milliseconds kFirstRetryPause{100};
constexpr std::chrono::milliseconds kLongestRetryPause{3000};

void debugOutput(const char* text) {
#ifndef NDEBUG
    std::fprintf(stderr, "%s\n", text);
#else
    static_cast<void>(text);
#endif
}

// A payload is read as zero-terminated text, as the reply buffer's zero tail allows.
std::string_view payloadText(std::span<const char> data) {
    const auto end = std::find(data.begin(), data.end(), '\0');
    return {data.data(), static_cast<std::size_t>(end - data.begin())};
}

}  // namespace

std::chrono::milliseconds subscriptionRetryPause(int consecutiveFailures) {
    if (consecutiveFailures <= 1) {
        return std::chrono::milliseconds(0);
    }
    const int doublings = std::min(consecutiveFailures - 2, 8);
    return std::min(kFirstRetryPause * (1 << doublings), kLongestRetryPause);
}

kmKRTAlarmHandlerC::kmKRTAlarmHandlerC(const KRTApp& app, AlarmChannelOwner& owner,
                                       SnapshotRetention retention)
    : m_app(app),
      m_owner(owner),
      m_retention(retention),
      m_pushClient(std::make_unique<kmMgrSocketClient>()),
      m_restartThread([this] { restartLoop(); }) {}

kmKRTAlarmHandlerC::~kmKRTAlarmHandlerC() {
    {
        std::lock_guard lock(m_stateMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    interruptConnections();
    stopThread(kStopLabel, m_restartThread, kRestartThreadStop_ms,
               [this] { interruptConnections(); });
    // Joins the push receiver before the snapshots go, so that none is written afterwards.
    m_pushClient.reset();
    deleteKeptSnapshots();
}

void kmKRTAlarmHandlerC::requestAlarmRestart() {
    {
        std::lock_guard lock(m_stateMutex);
        if (m_stopping) {
            return;
        }
        m_restartRequested = true;
    }
    m_wake.notify_all();
}

bool kmKRTAlarmHandlerC::connectedFlag() const {
    std::lock_guard lock(m_stateMutex);
    return m_connected;
}

EventRing kmKRTAlarmHandlerC::ring() const {
    std::lock_guard lock(m_ringMutex);
    return m_ring;
}

void kmKRTAlarmHandlerC::restartLoop() {
    std::unique_lock lock(m_stateMutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_restartRequested; });
        const auto pause = subscriptionRetryPause(m_failedAttempts);
        if (m_wake.wait_for(lock, pause, [this] { return m_stopping; })) {
            return;
        }
        m_restartRequested = false;
        lock.unlock();
        restartAlarmChannel();
        lock.lock();
    }
}

void kmKRTAlarmHandlerC::restartAlarmChannel() {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_stateMutex);
        if (m_connected) {
            return;
        }
        generation = ++m_generation;
        m_connectionLost = false;
    }
    m_pushClient->closeCommmunication();
    startReceivingAlarms(generation);
}

int kmKRTAlarmHandlerC::startReceivingAlarms(std::uint64_t generation) {
    try {
        const std::optional<std::vector<char>> request = subscriptionRequest();
        if (!request) {
            return kSuccess;
        }
        Reply reply;
        m_pushClient->connectToServer(
            m_app.m_serverAddress, static_cast<unsigned>(m_app.m_serverPort), *request, reply,
            [this, generation](std::span<const char> data) { fnCCResponseData(generation, data); });
        if (reply.empty()) {
            subscriptionFailed();
            return -1;
        }
        subscriptionAnswered(generation);

        const XmlNode root = kmKRTMgrXMLData::getXMLRootNodePtr(reply.text());
        if (!root || !root.child("kmReturnCode")) {
            writeLog(kModule, kSubscribeSource, kNotStarted);
            return kErrException;
        }
        if (root.childInt("kmReturnCode") > 0) {
            m_owner.killRetryTimer(kAlarmRetryTimerId);
        } else {
            writeLog(kModule, kSubscribeSource, kNotStarted);
            m_owner.setRetryTimer(kAlarmRetryTimerId, kAlarmRetryPeriod_ms);
        }
        return kSuccess;
    } catch (...) {
        writeLog(kModule, kSubscribeSource, "");
        return kErrException;
    }
}

void kmKRTAlarmHandlerC::subscriptionFailed() {
    {
        std::lock_guard lock(m_stateMutex);
        m_connected = false;
        ++m_failedAttempts;
    }
    debugOutput("requestAlaramsAndImage return");
    requestAlarmRestart();
}

void kmKRTAlarmHandlerC::subscriptionAnswered(std::uint64_t generation) {
    std::lock_guard lock(m_stateMutex);
    m_failedAttempts = 0;
    // The push connection may have failed already, right after the reply; its restart
    // request is pending then and must find the channel disconnected.
    m_connected = generation == m_generation && !m_connectionLost;
}

void kmKRTAlarmHandlerC::fnCCResponseData(std::uint64_t generation, std::span<const char> data) {
    const std::string_view text = payloadText(data);
    if (text == kRecvError) {
        connectionLost(generation);
        return;
    }
    {
        std::lock_guard lock(m_stateMutex);
        if (m_stopping) {
            return;
        }
    }
    handleAlarm(text);
}

void kmKRTAlarmHandlerC::connectionLost(std::uint64_t generation) {
    {
        std::lock_guard lock(m_stateMutex);
        // A connection that a newer attempt has already replaced, or that the destructor
        // closed, restarts nothing.
        if (generation != m_generation || m_stopping) {
            return;
        }
        m_connected = false;
        m_connectionLost = true;
    }
    debugOutput("fnCCResponseData return");
    requestAlarmRestart();
}

void kmKRTAlarmHandlerC::handleAlarm(std::string_view text) {
    const WallClock::time_point received = WallClock::now();
    try {
        const XmlNode root = kmKRTMgrXMLData::getXMLRootNodePtr(text);
        const std::optional<AlarmMessage> message = root ? readAlarmMessage(root) : std::nullopt;
        if (!message) {
            writeLog(kModule, kInvalidPushSource, "");
            return;
        }
        const LocalTime time = parseAlarmTimestamp(message->timestamp);
        const std::optional<std::string> timeText = alarmTimeText(time);
        if (!timeText) {
            return;
        }
        const std::filesystem::path imagePath = snapshotPath(message->timestamp, time);
        fetchImage(*message, time, imagePath);

        AlarmEvent event{message->alarmName, message->channelId, *timeText, imagePath};
        judgePunctuality(event, time, received);
        addEvent(event);
        m_owner.queueEventAlert(event.alarmName, event.channelId, event.timeText);
        m_owner.eventStored(event);
    } catch (...) {
        // A message that cannot be handled is dropped; the channel goes on.
    }
}

std::filesystem::path kmKRTAlarmHandlerC::snapshotPath(std::string_view timestamp,
                                                       const LocalTime& time) const {
    if (m_app.m_snapshotFolder.empty()) {
        return {};
    }
    return m_app.m_snapshotFolder / (snapshotFileStem(timestamp, time) + ".jpg");
}

void kmKRTAlarmHandlerC::fetchImage(const AlarmMessage& message, const LocalTime& time,
                                    const std::filesystem::path& imagePath) {
    if (imagePath.empty()) {
        return;
    }
    const std::optional<std::vector<char>> request =
        alarmImageRequest(message.channelId, message.alarmName, time);
    if (!request) {
        return;
    }
    kmMgrSocketClient client;
    if (!registerFetch(client)) {
        return;
    }
    // Unregistered before the client goes, however the fetch ends.
    struct Registration {
        kmKRTAlarmHandlerC& handler;
        ~Registration() { handler.unregisterFetch(); }
    } registration{*this};

    Reply reply;
    client.connectToServer(m_app.m_serverAddress, static_cast<unsigned>(m_app.m_serverPort),
                           *request, reply);
    if (!reply.empty()) {
        writeSnapshotFile(imagePath, reply.payload());
    }
    client.closeCommmunication();
}

void kmKRTAlarmHandlerC::judgePunctuality(AlarmEvent& event, const LocalTime& time,
                                          WallClock::time_point received) {
    const std::optional<WallClock::time_point> eventTime = alarmTimePoint(time);
    if (!eventTime) {
        return;
    }
    event.eventTime = *eventTime;
    event.receivedTime = received;
    std::lock_guard lock(m_ringMutex);
    event.punctuality = m_serverClock.judge(*eventTime, received);
}

void kmKRTAlarmHandlerC::addEvent(AlarmEvent event) {
    std::lock_guard lock(m_ringMutex);
    const std::optional<AlarmEvent> evicted = m_ring.add(std::move(event));
    // Events with one timestamp share one file: it goes with the last of them.
    if (evicted && m_retention == SnapshotRetention::DeleteEvicted && !evicted->imagePath.empty() &&
        !m_ring.refersTo(evicted->imagePath)) {
        removeSnapshotFile(evicted->imagePath);
    }
}

bool kmKRTAlarmHandlerC::registerFetch(kmMgrSocketClient& client) {
    std::lock_guard lock(m_stateMutex);
    if (m_stopping) {
        return false;
    }
    m_activeFetch = &client;
    return true;
}

void kmKRTAlarmHandlerC::unregisterFetch() {
    std::lock_guard lock(m_stateMutex);
    m_activeFetch = nullptr;
}

void kmKRTAlarmHandlerC::interruptConnections() {
    m_pushClient->closeCommmunication();
    std::lock_guard lock(m_stateMutex);
    if (m_activeFetch != nullptr) {
        m_activeFetch->closeCommmunication();
    }
}

void kmKRTAlarmHandlerC::deleteKeptSnapshots() {
    if (m_retention == SnapshotRetention::KeepAll) {
        return;
    }
    std::lock_guard lock(m_ringMutex);
    for (const AlarmEvent& event : m_ring.events()) {
        if (!event.imagePath.empty()) {
            removeSnapshotFile(event.imagePath);
        }
    }
}

}  // namespace krt
