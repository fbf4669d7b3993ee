#include "alarms/alarm_channel.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "alarms/snapshot_file.h"
#include "protocol/diag_log.h"
#include "protocol/packet_framing.h"
#include "protocol/return_codes.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
constexpr const char* kSubscribeSource = "kmKRTAlarmHandlerC::startReceivingAlarms()";
constexpr const char* kNotStarted = "Unable to start alarm notifications with server";
constexpr const char* kInvalidPushSource =
    "kmKRTAlarmHandlerC::fnCCResponseData() - Invalid Responce data from server.";
constexpr const char* kSnapshotSource = "kmKRTAlarmHandlerC::fetchImage()";
constexpr const char* kStopLabel = "DEventsPage::~DEventsPage()";
constexpr int kThreadStop_ms = 1000;

constexpr std::chrono::milliseconds kFirstRetryPause{100};
constexpr std::chrono::milliseconds kLongestRetryPause{3000};

using SystemClock = AlarmChannelStatus::Clock;

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

void enterState(AlarmChannelStatus& status, AlarmChannelStatus::State state) {
    if (status.state != state) {
        status.state = state;
        status.since = SystemClock::now();
    }
}

}  // namespace

std::chrono::milliseconds subscriptionRetryPause(int consecutiveFailures) {
    if (consecutiveFailures <= 1) {
        return std::chrono::milliseconds(0);
    }
    const int doublings = std::min(consecutiveFailures - 2, 8);
    return std::min(kFirstRetryPause * (1 << doublings), kLongestRetryPause);
}

AlarmChannel::AlarmChannel(const AppState& app, AlarmChannelOwner& owner,
                           SnapshotRetention retention, int retryPeriod_ms)
    : m_app(app),
      m_owner(owner),
      m_retention(retention),
      m_retryPeriod_ms(retryPeriod_ms),
      m_pushClient(std::make_unique<SocketClient>(SocketClient::Timeouts{}, &m_cancellation)),
      m_snapshotThread([this] { snapshotLoop(); }),
      m_restartThread([this] { restartLoop(); }) {
    m_status.since = SystemClock::now();
    if (!m_app.m_snapshotFolder.empty()) {
        removeLeftoverSnapshotParts(m_app.m_snapshotFolder);
    }
}

AlarmChannel::~AlarmChannel() {
    {
        std::lock_guard lock(m_stateMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    {
        std::lock_guard lock(m_jobMutex);
        m_jobs.clear();
    }
    m_jobReady.notify_all();
    interruptConnections();
    stopThread(kStopLabel, m_restartThread, kThreadStop_ms, [this] { interruptConnections(); });
    stopThread(kStopLabel, m_snapshotThread, kThreadStop_ms, [this] { interruptConnections(); });
    // Joins the push receiver before the snapshots go, so that none is written afterwards.
    m_pushClient.reset();
    report(
        [](AlarmChannelStatus& status) { enterState(status, AlarmChannelStatus::State::stopped); });
    deleteKeptSnapshots();
}

template <typename Change>
void AlarmChannel::report(Change change) {
    std::lock_guard reportLock(m_reportMutex);
    AlarmChannelStatus status;
    {
        std::lock_guard lock(m_stateMutex);
        change(m_status);
        status = m_status;
    }
    m_owner.channelStatusChanged(status);
}

void AlarmChannel::requestAlarmRestart() {
    {
        std::lock_guard lock(m_stateMutex);
        if (m_stopping) {
            return;
        }
        m_restartRequested = true;
    }
    m_wake.notify_all();
}

bool AlarmChannel::connectedFlag() const {
    std::lock_guard lock(m_stateMutex);
    return m_connected;
}

EventRing AlarmChannel::ring() const {
    std::lock_guard lock(m_ringMutex);
    return m_ring;
}

void AlarmChannel::restartLoop() {
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

void AlarmChannel::restartAlarmChannel() {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_stateMutex);
        if (m_connected) {
            return;
        }
        generation = ++m_generation;
        m_answered = false;
        m_connectionLost = false;
    }
    m_pushClient->closeCommmunication();
    startReceivingAlarms(generation);
}

int AlarmChannel::startReceivingAlarms(std::uint64_t generation) {
    try {
        const std::optional<std::vector<char>> request = subscriptionRequest();
        if (!request) {
            return kSuccess;
        }
        Reply reply;
        const int result = m_pushClient->connectToServer(
            m_app.m_serverAddress, static_cast<unsigned>(m_app.m_serverPort), *request, reply,
            [this, generation](std::span<const char> data) { fnCCResponseData(generation, data); });
        if (reply.empty()) {
            debugOutput("requestAlaramsAndImage return");
            subscriptionUnanswered(result == kErrCommunication ? Reason::cannotConnect
                                                               : Reason::noAnswer);
            return -1;
        }
        const XmlNode root = XmlMessage::getXMLRootNodePtr(reply.text());
        if (!root || !root.child("kmReturnCode")) {
            writeLog(kModule, kSubscribeSource, kNotStarted);
            subscriptionAnswered(generation, Reason::unreadable, 0);
            return kErrException;
        }
        const int code = root.childInt("kmReturnCode");
        if (code <= 0) {
            writeLog(kModule, kSubscribeSource, kNotStarted);
        }
        subscriptionAnswered(generation, code > 0 ? Reason::none : Reason::refused, code);
        return kSuccess;
    } catch (...) {
        writeLog(kModule, kSubscribeSource, "");
        return kErrException;
    }
}

void AlarmChannel::countFailureLocked(Reason reason) {
    // A subscription that stayed up long enough was a success: the pause starts afresh.
    if (m_connected && std::chrono::steady_clock::now() - m_subscribedAt >= kStableSubscription) {
        m_failedAttempts = 0;
    }
    ++m_failedAttempts;
    m_connected = false;
    const auto pause = subscriptionRetryPause(m_failedAttempts);
    enterState(m_status, AlarmChannelStatus::State::retrying);
    ++m_status.attempt;
    m_status.reason = reason;
    m_status.code = 0;
    m_status.nextAttempt = SystemClock::now() + pause;
}

void AlarmChannel::subscriptionUnanswered(Reason reason) {
    bool counted = false;
    report([&](AlarmChannelStatus&) {
        if (m_stopping) {
            return;
        }
        // The attempt is over: the end of its connection restarts nothing more.
        ++m_generation;
        countFailureLocked(reason);
        counted = true;
    });
    if (counted) {
        requestAlarmRestart();
    }
}

void AlarmChannel::subscriptionAnswered(std::uint64_t generation, Reason verdict, int code) {
    enum class Next { nothing, subscribed, retryOnTimer, restart } next = Next::nothing;
    report([&](AlarmChannelStatus& status) {
        if (generation != m_generation || m_stopping) {
            return;
        }
        m_answered = true;
        if (m_connectionLost) {
            // The push connection failed right after the reply: its restart is due now.
            countFailureLocked(Reason::connectionLost);
            next = Next::restart;
        } else if (verdict == Reason::none) {
            m_connected = true;
            m_subscribedAt = std::chrono::steady_clock::now();
            status.state = AlarmChannelStatus::State::subscribed;
            status.since = SystemClock::now();
            status.attempt = 0;
            status.reason = Reason::none;
            status.code = 0;
            next = Next::subscribed;
        } else {
            // Kept open as it is (alarms pushed on it still count); the retry timer replaces it.
            enterState(status, AlarmChannelStatus::State::retrying);
            ++status.attempt;
            status.reason = verdict;
            status.code = code;
            status.nextAttempt = SystemClock::now() + std::chrono::milliseconds(m_retryPeriod_ms);
            next = Next::retryOnTimer;
        }
    });
    m_wake.notify_all();
    switch (next) {
        case Next::subscribed:
            m_owner.killRetryTimer(kAlarmRetryTimerId);
            break;
        case Next::retryOnTimer:
            m_owner.setRetryTimer(kAlarmRetryTimerId, m_retryPeriod_ms);
            break;
        case Next::restart:
            requestAlarmRestart();
            break;
        case Next::nothing:
            break;
    }
}

void AlarmChannel::fnCCResponseData(std::uint64_t generation, std::span<const char> data) {
    const std::string_view text = payloadText(data);
    if (text == kRecvError) {
        connectionLost(generation);
        return;
    }
    {
        // An alarm is told only after the subscription it came with, so that the owner hears
        // of the subscription first.
        std::unique_lock lock(m_stateMutex);
        m_wake.wait(lock, [&] { return m_answered || generation != m_generation || m_stopping; });
        if (m_stopping) {
            return;
        }
    }
    handleAlarm(text);
}

void AlarmChannel::connectionLost(std::uint64_t generation) {
    bool restart = false;
    {
        std::lock_guard reportLock(m_reportMutex);
        AlarmChannelStatus status;
        {
            std::lock_guard lock(m_stateMutex);
            // A connection that a newer attempt has already replaced, or that the destructor
            // closed, restarts nothing. Before its reply is judged, the judgement sees the loss.
            if (generation != m_generation || m_stopping) {
                return;
            }
            m_connectionLost = true;
            if (!m_answered) {
                return;
            }
            countFailureLocked(Reason::connectionLost);
            status = m_status;
            restart = true;
        }
        m_owner.channelStatusChanged(status);
    }
    if (restart) {
        debugOutput("fnCCResponseData return");
        requestAlarmRestart();
    }
}

void AlarmChannel::handleAlarm(std::string_view text) {
    const WallClock::time_point received = WallClock::now();
    try {
        const XmlNode root = XmlMessage::getXMLRootNodePtr(text);
        const std::optional<AlarmMessage> message = root ? readAlarmMessage(root) : std::nullopt;
        if (!message) {
            writeLog(kModule, kInvalidPushSource, "");
            return;
        }
        report([](AlarmChannelStatus& status) { status.lastAlarm = SystemClock::now(); });
        const LocalTime time = parseAlarmTimestamp(message->timestamp);
        const std::optional<std::string> timeText = alarmTimeText(time);
        if (!timeText) {
            return;
        }
        const std::filesystem::path imagePath = snapshotPath(message->timestamp, time);
        AlarmEvent event{message->alarmName, message->channelId, *timeText, imagePath};
        judgePunctuality(event, time, received);
        SnapshotJob job{*message, time, std::move(event), !imagePath.empty()};
        {
            std::lock_guard lock(m_jobMutex);
            job.fetch = job.fetch && m_jobs.size() < kMaxPendingSnapshots;
            m_jobs.push_back(std::move(job));
        }
        m_jobReady.notify_one();
    } catch (...) {
        // A message that cannot be handled is dropped; the channel goes on.
    }
}

std::filesystem::path AlarmChannel::snapshotPath(std::string_view timestamp,
                                                 const LocalTime& time) const {
    if (m_app.m_snapshotFolder.empty()) {
        return {};
    }
    return m_app.m_snapshotFolder / (snapshotFileStem(timestamp, time) + ".jpg");
}

void AlarmChannel::snapshotLoop() {
    for (;;) {
        SnapshotJob job;
        {
            std::unique_lock lock(m_jobMutex);
            m_jobReady.wait(lock, [this] {
                std::lock_guard state(m_stateMutex);
                return m_stopping || !m_jobs.empty();
            });
            if (m_jobs.empty()) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        storeEvent(job);
    }
}

void AlarmChannel::storeEvent(const SnapshotJob& job) {
    try {
        if (job.fetch && !fetchImage(job)) {
            {
                std::lock_guard lock(m_stateMutex);
                if (m_stopping) {
                    return;  // cut short by the stop: not a lost snapshot
                }
            }
            report([](AlarmChannelStatus& status) { ++status.lostSnapshots; });
        } else if (!job.fetch && !job.event.imagePath.empty()) {
            writeLog(kModule, kSnapshotSource, "Too many snapshots pending: one not fetched.");
            report([](AlarmChannelStatus& status) { ++status.lostSnapshots; });
        }
        addEvent(job.event);
        m_owner.queueEventAlert(job.event.alarmName, job.event.channelId, job.event.timeText);
        m_owner.eventStored(job.event);
    } catch (...) {
        // An event that cannot be stored is dropped; the channel goes on.
    }
}

bool AlarmChannel::fetchImage(const SnapshotJob& job) {
    const std::optional<std::vector<char>> request =
        alarmImageRequest(job.message.channelId, job.message.alarmName, job.time);
    if (!request) {
        return false;
    }
    SocketClient client(SocketClient::Timeouts{}, &m_cancellation);
    client.setMaxReplyLength(kMaxPayloadLength);
    Reply reply;
    client.connectToServer(m_app.m_serverAddress, static_cast<unsigned>(m_app.m_serverPort),
                           *request, reply);
    client.closeCommmunication();
    if (reply.empty()) {
        return false;  // the client has logged why
    }
    if (!isJpeg(reply.payload())) {
        writeLog(kModule, kSnapshotSource, "The snapshot is not a JPEG picture.");
        return false;
    }
    if (!writeSnapshotFile(job.event.imagePath, reply.payload())) {
        writeLog(kModule, kSnapshotSource, "Unable to write the snapshot file.");
        return false;
    }
    return true;
}

void AlarmChannel::judgePunctuality(AlarmEvent& event, const LocalTime& time,
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

void AlarmChannel::addEvent(AlarmEvent event) {
    std::lock_guard lock(m_ringMutex);
    const std::optional<AlarmEvent> evicted = m_ring.add(std::move(event));
    // Events with one timestamp share one file: it goes with the last of them.
    if (evicted && m_retention == SnapshotRetention::DeleteEvicted && !evicted->imagePath.empty() &&
        !m_ring.refersTo(evicted->imagePath)) {
        removeSnapshotFile(evicted->imagePath);
    }
}

void AlarmChannel::interruptConnections() {
    m_cancellation.cancel();
    m_pushClient->closeCommmunication();
}

void AlarmChannel::deleteKeptSnapshots() {
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
