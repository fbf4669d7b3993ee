#include "alarms/alarm_channel.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "alarms/alarm_message.h"
#include "alarms/alarm_status_text.h"
#include "alarms/alarm_time.h"
#include "journal/snapshot_file.h"
#include "protocol/diag_log.h"
#include "protocol/return_codes.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
constexpr const char* kSubscribeSource = "kmKRTAlarmHandlerC::startReceivingAlarms()";
constexpr const char* kNotStarted = "Unable to start alarm notifications with server";
constexpr const char* kInvalidPushSource =
    "kmKRTAlarmHandlerC::fnCCResponseData() - Invalid Responce data from server.";
constexpr const char* kStopLabel = "DEventsPage::~DEventsPage()";
constexpr int kThreadStop_ms = 1000;

using Reason = AlarmChannelStatus::Reason;
using Action = AlarmChannelAction;

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

AlarmChannelState initialState(const AlarmJournal* journal) {
    AlarmChannelState state;
    state.status.since = AlarmChannelStatus::Clock::now();
    if (journal != nullptr) {
        state.status.journalNotice = journal->notice();
        if (const std::optional<JournalTrouble> trouble = journal->trouble()) {
            state.status.journalTrouble = StorageTrouble{trouble->error, trouble->folder, 0};
        }
    }
    return state;
}

// The journal's session begins before the channel's first event.
std::shared_ptr<AlarmJournal> startedJournal(std::shared_ptr<AlarmJournal> journal,
                                             const AppState& app, std::string_view site) {
    if (journal) {
        journal->startSession(app.m_serverAddress, JournalClock::now(), site);
    }
    return journal;
}

bool tellsOfStorage(const AlarmChannelEvent& event) {
    using namespace channel_event;
    return std::holds_alternative<SnapshotLost>(event) ||
           std::holds_alternative<SnapshotUnsaved>(event) ||
           std::holds_alternative<SnapshotSaved>(event) ||
           std::holds_alternative<JournalUnwritten>(event) ||
           std::holds_alternative<JournalWritten>(event);
}

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

AlarmChannel::AlarmChannel(const AppState& app, AlarmChannelOwner& owner,
                           SnapshotRetention retention, int retryPeriod_ms,
                           std::shared_ptr<AlarmJournal> journal, std::string site)
    : m_app(app),
      m_site(std::move(site)),
      m_owner(owner),
      m_retryPeriod_ms(retryPeriod_ms),
      m_state(initialState(journal.get())),
      m_nextHeartbeat(std::chrono::steady_clock::now() + AlarmJournal::kHeartbeatPeriod),
      m_journal(startedJournal(std::move(journal), app, m_site)),
      m_kept(retention),
      m_pushClient(std::make_unique<SocketClient>(SocketClient::Timeouts{}, &m_cancellation)),
      m_fetcher(app, m_cancellation, m_kept,
                [this](const SnapshotJob& job, const FetchedSnapshot& snapshot) {
                    snapshotDone(job, snapshot);
                }),
      m_thread([this] { run(); }) {
    if (!m_app.m_snapshotFolder.empty()) {
        removeLeftoverSnapshotParts(m_app.m_snapshotFolder);
    }
}

AlarmChannel::~AlarmChannel() {
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = true;
    }
    m_queueChanged.notify_all();
    interruptConnections();
    m_fetcher.stop(kStopLabel, kThreadStop_ms);
    stopThread(kStopLabel, m_thread, kThreadStop_ms, [this] { interruptConnections(); });
    // Joins the push receiver before the snapshots go, so that none is written afterwards.
    m_pushClient.reset();
    // Every thread has ended: what they left is the destructor's. What became of the snapshots
    // and journal entries before the stop still counts in the last report.
    for (const Work& work : m_queue) {
        const auto* event = std::get_if<AlarmChannelEvent>(&work);
        if (event != nullptr && tellsOfStorage(*event)) {
            apply(*event);
        }
    }
    apply(channel_event::Stop{});
    if (m_journal) {
        m_journal->endSession(JournalClock::now());
    }
    m_kept.deleteSnapshots();
}

void AlarmChannel::requestAlarmRestart() {
    post(channel_event::RestartRequested{});
}

void AlarmChannel::post(Work work) {
    {
        std::lock_guard lock(m_queueMutex);
        if (m_stopping) {
            return;
        }
        m_queue.push_back(std::move(work));
    }
    m_queueChanged.notify_one();
}

void AlarmChannel::run() {
    std::unique_lock lock(m_queueMutex);
    for (;;) {
        const auto ready = [this] { return m_stopping || !m_queue.empty(); };
        std::optional<std::chrono::steady_clock::time_point> wake = m_state.attemptDue;
        if (m_journal) {
            wake = std::min(wake.value_or(m_nextHeartbeat), m_nextHeartbeat);
        }
        if (wake) {
            m_queueChanged.wait_until(lock, *wake, ready);
        } else {
            m_queueChanged.wait(lock, ready);
        }
        if (m_stopping) {
            return;
        }
        std::optional<Work> work;
        if (!m_queue.empty()) {
            work = std::move(m_queue.front());
            m_queue.pop_front();
        }
        lock.unlock();
        if (!work) {
            // The session is alive: a crash is dated within one period.
            if (m_journal && std::chrono::steady_clock::now() >= m_nextHeartbeat) {
                m_journal->heartbeat(JournalClock::now());
                m_nextHeartbeat = std::chrono::steady_clock::now() + AlarmJournal::kHeartbeatPeriod;
            }
            apply(channel_event::AttemptDue{});
        } else {
            std::visit(Overloaded{[this](const AlarmChannelEvent& event) { apply(event); },
                                  [this](const PushedMessage& message) {
                                      handleAlarm(message.text, message.received);
                                  }},
                       *work);
        }
        lock.lock();
    }
}

void AlarmChannel::apply(const AlarmChannelEvent& event) {
    std::optional<AlarmChannelEvent> next = event;
    while (next) {
        AlarmChannelStep step =
            nextAlarmChannelState(m_state, *next, ChannelMoment::now(), m_retryPeriod_ms);
        next.reset();
        m_state = step.state;
        m_connected = m_state.phase == AlarmChannelState::Phase::subscribed;
        for (const Action action : step.actions) {
            switch (action) {
                case Action::report:
                    m_owner.channelStatusChanged(m_state.status);
                    // A start that fails says why it hears nothing.
                    if (m_journal && m_state.status.state == AlarmChannelStatus::State::retrying &&
                        m_state.status.reason != Reason::none) {
                        m_journal->noteGapReason(alarmReasonText(m_state.status));
                    }
                    break;
                case Action::gapBegins:
                case Action::gapEnds:
                    recordGap(action);
                    break;
                case Action::startAttempt:
                    next = subscribe();
                    break;
                case Action::armRetryTimer:
                    m_owner.setRetryTimer(kAlarmRetryTimerId, m_retryPeriod_ms);
                    break;
                case Action::killRetryTimer:
                    m_owner.killRetryTimer(kAlarmRetryTimerId);
                    break;
            }
        }
    }
}

std::optional<AlarmChannelEvent> AlarmChannel::subscribe() {
    using channel_event::NoReply;
    using channel_event::Replied;
    const std::uint64_t generation = m_state.generation;
    m_pushClient->closeCommmunication();
    try {
        const std::optional<std::vector<char>> request = subscriptionRequest();
        if (!request) {
            return NoReply{Reason::noAnswer};
        }
        Reply reply;
        const int result = m_pushClient->connectToServer(
            m_app.m_serverAddress, static_cast<unsigned>(m_app.m_serverPort), *request, reply,
            [this, generation](std::span<const char> data) { fnCCResponseData(generation, data); });
        if (m_cancellation.cancelled()) {
            return std::nullopt;  // the stop follows
        }
        if (reply.empty()) {
            debugOutput("requestAlaramsAndImage return");
            return NoReply{result == kErrCommunication ? Reason::cannotConnect : Reason::noAnswer};
        }
        const XmlNode root = XmlMessage::getXMLRootNodePtr(reply.text());
        if (!root || !root.child("kmReturnCode")) {
            writeLog(kModule, kSubscribeSource, kNotStarted);
            return Replied{Reason::unreadable};
        }
        const int code = root.childInt("kmReturnCode");
        if (code <= 0) {
            writeLog(kModule, kSubscribeSource, kNotStarted);
        }
        return Replied{code > 0 ? Reason::none : Reason::refused, code};
    } catch (...) {
        writeLog(kModule, kSubscribeSource, "");
        return NoReply{Reason::noAnswer};
    }
}

void AlarmChannel::fnCCResponseData(std::uint64_t generation, std::span<const char> data) {
    const std::string_view text = payloadText(data);
    if (text == kRecvError) {
        debugOutput("fnCCResponseData return");
        post(channel_event::ConnectionLost{generation});
        return;
    }
    post(PushedMessage{std::string(text), WallClock::now()});
}

void AlarmChannel::handleAlarm(std::string_view text, WallClock::time_point received) {
    try {
        const XmlNode root = XmlMessage::getXMLRootNodePtr(text);
        const std::optional<AlarmMessage> message = root ? readAlarmMessage(root) : std::nullopt;
        if (!message) {
            writeLog(kModule, kInvalidPushSource, "");
            return;
        }
        apply(channel_event::AlarmReceived{});
        const LocalTime time = parseAlarmTimestamp(message->timestamp);
        const std::optional<std::string> timeText = alarmTimeText(time);
        if (!timeText) {
            return;
        }
        std::filesystem::path imagePath;
        if (!m_app.m_snapshotFolder.empty()) {
            imagePath =
                m_app.m_snapshotFolder / (snapshotFileStem(message->timestamp, time) + ".jpg");
        }
        AlarmEvent event{message->alarmName, message->channelId, *timeText, imagePath};
        event.site = m_site;
        event.receivedTime = received;
        if (const std::optional<WallClock::time_point> eventTime = alarmTimePoint(time)) {
            event.eventTime = *eventTime;
            event.punctuality = m_serverClock.judge(*eventTime, received);
        }
        const bool fetch = !imagePath.empty();
        m_fetcher.enqueue(SnapshotJob{*message, time, std::move(event), fetch});
    } catch (...) {
        // A message that cannot be handled is dropped; the channel goes on.
    }
}

void AlarmChannel::snapshotDone(const SnapshotJob& job, const FetchedSnapshot& snapshot) {
    switch (snapshot.outcome) {
        case SnapshotOutcome::stored:
            post(channel_event::SnapshotSaved{});
            break;
        case SnapshotOutcome::unsaved:
            post(channel_event::SnapshotUnsaved{snapshot.writeError, m_app.m_snapshotFolder});
            break;
        case SnapshotOutcome::lost:
            post(channel_event::SnapshotLost{});
            break;
        case SnapshotOutcome::notFetched:
            break;
    }
    // Journaled before it is shown or printed.
    if (m_journal) {
        journal(job, snapshot);
    }
    m_kept.add(job.event);
    m_owner.queueEventAlert(job.event.alarmName, job.event.channelId, job.event.timeText);
    m_owner.eventStored(job.event, snapshot.bytes);
}

void AlarmChannel::journal(const SnapshotJob& job, const FetchedSnapshot& snapshot) {
    JournalEntry entry;
    entry.server = m_app.m_serverAddress;
    entry.site = m_site;
    entry.channelId = job.event.channelId;
    entry.alarmName = job.event.alarmName;
    entry.timestamp = job.message.timestamp;
    entry.timeText = job.event.timeText;
    if (job.event.eventTime != WallClock::time_point{}) {
        entry.alarmTime = job.event.eventTime;
    }
    entry.receivedAt = job.event.receivedTime;
    entry.late = job.event.punctuality == Punctuality::Late;
    entry.snapshot = snapshot.bytes;
    entry.snapshotMissing = snapshot.missing;
    if (snapshot.outcome == SnapshotOutcome::stored) {
        entry.snapshotFile = job.event.imagePath;
    }
    m_journal->record(entry);
    // The row may be kept without its snapshot: that is trouble too.
    if (const std::optional<JournalTrouble> trouble = m_journal->trouble()) {
        post(channel_event::JournalUnwritten{trouble->error, trouble->folder});
    } else {
        post(channel_event::JournalWritten{});
    }
}

void AlarmChannel::recordGap(AlarmChannelAction action) {
    if (!m_journal) {
        return;
    }
    const JournalClock::time_point now = JournalClock::now();
    if (action == Action::gapEnds) {
        m_journal->endGap(now);
        return;
    }
    const bool stopped = m_state.status.state == AlarmChannelStatus::State::stopped;
    m_journal->beginGap(now, stopped ? "client not running" : alarmReasonText(m_state.status));
}

void AlarmChannel::interruptConnections() {
    m_cancellation.cancel();
    m_pushClient->closeCommmunication();
}

}  // namespace krt
