#include "sim_alarms.h"

#include <algorithm>

#include "protocol/diag_log.h"

namespace krt::sim {
namespace {

constexpr std::size_t kKeptSnapshots = 256;

std::string alarmTimestamp(const LocalTime& time) {
    char text[18];
    formatTimestamp(time, text, sizeof text);
    return text;
}

}  // namespace

SimAlarms::SimAlarms(const SimConfig& config, const StopSignal& stop, const SimLogger& logger,
                     const SimVideo& video)
    : m_config(config), m_stop(stop), m_logger(logger), m_video(video) {}

SimAlarms::~SimAlarms() {
    stopSchedule();
}

void SimAlarms::startSchedule() {
    if (m_config.alarms.intervalSeconds > 0) {
        m_scheduler = std::thread([this] { scheduleLoop(); });
    }
}

void SimAlarms::stopSchedule() {
    if (m_scheduler.joinable()) {
        m_scheduler.join();
    }
}

void SimAlarms::scheduleLoop() {
    const auto interval = std::chrono::seconds(m_config.alarms.intervalSeconds);
    for (SimClock::time_point next = SimClock::now() + interval; m_stop.waitUntil(next);
         next += interval) {
        pushNextScheduledAlarm();
    }
}

bool SimAlarms::serveSubscription(const std::shared_ptr<SimConnection>& connection) {
    // Subscribed only once the reply is out, so that no push can overtake it.
    return connection->sendFrameThen(statusReply(1, "Alarm notifications started"), [&] {
        connection->waitWithoutRequests();
        std::lock_guard lock(m_mutex);
        std::erase_if(m_subscribers, [](const auto& subscriber) { return subscriber->closed(); });
        m_subscribers.push_back(connection);
        m_changed.notify_all();
    });
}

bool SimAlarms::serveAlarmImage(SimConnection& connection, const ParsedRequest& request,
                                std::string& outcome) {
    AlarmMessage wanted{request.field("kmAlarmTimestamp"), request.field("kmAlarmName"),
                        request.field("kmAlarmChannelID")};
    outcome = "channel " + wanted.channelId + " " + wanted.name + " " + wanted.timestamp;
    std::string jpeg;
    {
        std::lock_guard lock(m_mutex);
        const auto found =
            std::find_if(m_snapshots.rbegin(), m_snapshots.rend(), [&](const StoredSnapshot& kept) {
                return kept.alarm.timestamp == wanted.timestamp && kept.alarm.name == wanted.name &&
                       kept.alarm.channelId == wanted.channelId;
            });
        if (found != m_snapshots.rend()) {
            jpeg = found->jpeg;
        } else if (const auto prepared =
                       m_prepared.find({wanted.timestamp, wanted.name, wanted.channelId});
                   prepared != m_prepared.end()) {
            jpeg = prepared->second;
        }
    }
    // An alarm that is not (or no longer) kept gets the channel's picture of now.
    if (const SimChannel* channel = m_config.findChannel(wanted.channelId);
        jpeg.empty() && channel) {
        jpeg = m_video.renderSnapshot(*channel, wanted.name);
    }
    if (jpeg.empty()) {
        outcome += ": no image";
        return connection.sendFrame(statusReply(-1, "No image for this alarm"));
    }
    outcome += ": " + std::to_string(jpeg.size()) + " bytes";
    return connection.sendFrame(jpeg);
}

std::optional<AlarmMessage> SimAlarms::pushNextScheduledAlarm() {
    std::vector<std::string> channelIds = m_config.alarms.channels;
    if (channelIds.empty()) {
        for (const SimChannel& channel : m_config.channels) {
            channelIds.push_back(channel.id);
        }
    }
    if (channelIds.empty()) {
        return std::nullopt;
    }
    std::size_t turn = 0;
    {
        std::lock_guard lock(m_mutex);
        turn = m_nextScheduled++;
    }
    const std::vector<std::string>& names = m_config.alarms.names;
    return pushAlarm(channelIds[turn % channelIds.size()], names[turn % names.size()]);
}

AlarmMessage SimAlarms::pushAlarm(std::string_view channelId, std::string_view name) {
    return pushAlarmStamped(channelId, name, alarmTimestamp(currentLocalTime()));
}

AlarmMessage SimAlarms::pushAlarmStamped(std::string_view channelId, std::string_view name,
                                         std::string_view timestamp) {
    AlarmMessage alarm{std::string(timestamp), std::string(name), std::string(channelId)};
    if (const SimChannel* channel = m_config.findChannel(channelId)) {
        StoredSnapshot kept{alarm, m_video.renderSnapshot(*channel, alarm.name)};
        std::lock_guard lock(m_mutex);
        m_snapshots.push_back(std::move(kept));
        if (m_snapshots.size() > kKeptSnapshots) {
            m_snapshots.pop_front();
        }
    }
    pushAlarmMessage(alarm);
    return alarm;
}

AlarmMessage SimAlarms::prepareAlarm(std::string_view channelId, std::string_view name,
                                     std::string_view timestamp) {
    AlarmMessage alarm{std::string(timestamp), std::string(name), std::string(channelId)};
    if (const SimChannel* channel = m_config.findChannel(channelId)) {
        std::string jpeg = m_video.renderSnapshot(*channel, alarm.name);
        std::lock_guard lock(m_mutex);
        m_prepared.insert_or_assign({alarm.timestamp, alarm.name, alarm.channelId},
                                    std::move(jpeg));
    }
    return alarm;
}

std::size_t SimAlarms::pushAlarmMessage(const AlarmMessage& alarm) {
    const std::string message = alarmPushMessage(alarm);
    std::size_t reached = 0;
    for (const auto& subscriber : liveSubscribers()) {
        if (subscriber->sendPush(message)) {
            ++reached;
        } else if (!subscriber->silent()) {
            subscriber->shutdown();  // its thread sees the end and finishes
        }
    }
    m_logger.line("alarm", alarm.name + " channel " + alarm.channelId + " " + alarm.timestamp +
                               " -> " + std::to_string(reached) + " subscriber(s)");
    return reached;
}

std::vector<std::shared_ptr<SimConnection>> SimAlarms::liveSubscribers() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<SimConnection>> live;
    std::copy_if(m_subscribers.begin(), m_subscribers.end(), std::back_inserter(live),
                 [](const auto& subscriber) { return !subscriber->closed(); });
    return live;
}

std::size_t SimAlarms::countLiveSubscribers() const {
    return static_cast<std::size_t>(
        std::count_if(m_subscribers.begin(), m_subscribers.end(),
                      [](const auto& subscriber) { return !subscriber->closed(); }));
}

std::size_t SimAlarms::subscriberCount() const {
    std::lock_guard lock(m_mutex);
    return countLiveSubscribers();
}

bool SimAlarms::waitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return countLiveSubscribers() >= count; });
}

}  // namespace krt::sim
