#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "sim_config.h"
#include "sim_connection.h"
#include "sim_replies.h"
#include "sim_video.h"

namespace krt::sim {

// The alarm side: subscribers, the alarms pushed to them, the snapshots kept for the image
// requests, and the schedule that pushes alarms by itself.
class SimAlarms {
  public:
    SimAlarms(const SimConfig& config, const StopSignal& stop, const SimLogger& logger,
              const SimVideo& video);
    ~SimAlarms();
    SimAlarms(const SimAlarms&) = delete;
    SimAlarms& operator=(const SimAlarms&) = delete;

    // Starts the schedule when the configuration has one; stopSchedule joins it after the
    // stop signal.
    void startSchedule();
    void stopSchedule();

    // Acknowledges a subscription; the connection receives every later alarm.
    bool serveSubscription(const std::shared_ptr<SimConnection>& connection);
    bool serveAlarmImage(SimConnection& connection, const ParsedRequest& request,
                         std::string& outcome);

    AlarmMessage pushAlarm(std::string_view channelId, std::string_view name);
    AlarmMessage pushAlarmStamped(std::string_view channelId, std::string_view name,
                                  std::string_view timestamp);
    std::size_t pushAlarmMessage(const AlarmMessage& alarm);
    std::optional<AlarmMessage> pushNextScheduledAlarm();
    // Renders the alarm's snapshot now and keeps it for as long as the server runs, without
    // pushing the alarm: a benchmark pushes alarms prepared before its clock starts.
    AlarmMessage prepareAlarm(std::string_view channelId, std::string_view name,
                              std::string_view timestamp);

    std::size_t subscriberCount() const;
    bool waitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct StoredSnapshot {
        AlarmMessage alarm;
        std::string jpeg;
    };

    void scheduleLoop();
    std::vector<std::shared_ptr<SimConnection>> liveSubscribers() const;
    std::size_t countLiveSubscribers() const;  // with the mutex held

    const SimConfig& m_config;
    const StopSignal& m_stop;
    const SimLogger& m_logger;
    const SimVideo& m_video;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::shared_ptr<SimConnection>> m_subscribers;
    std::deque<StoredSnapshot> m_snapshots;
    std::map<std::tuple<std::string, std::string, std::string>, std::string> m_prepared;
    std::size_t m_nextScheduled = 0;
    std::thread m_scheduler;
};

}  // namespace krt::sim
