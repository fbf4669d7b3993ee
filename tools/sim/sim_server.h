#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/tcp_socket.h"
#include "ptz_motion.h"
#include "sim_config.h"
#include "sim_replies.h"
#include "sim_video.h"

namespace krt::sim {

// The simulated server: answers every request of the client on as many connections at once
// as it is given, streams live video, takes PTZ commands and pushes alarms. Each connection
// is served on a thread of its own; stop() (or destruction) shuts every socket down and joins
// every thread.
class SimServer {
  public:
    // Receives one line per request served (and per alarm pushed), from any thread.
    using LogSink = std::function<void(std::string_view line)>;

    explicit SimServer(SimConfig config, LogSink log = {});
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Listens on a dotted IPv4 address; throws std::system_error when it cannot.
    void start(std::string_view address, std::uint16_t port);
    // Serves on a socket that already listens (tests bind their own loopback address).
    void start(TcpSocket listener);
    void stop();

    const SimConfig& config() const;
    std::string address() const;
    std::uint16_t port() const;

    // Pushes an alarm stamped with the current local time to every subscribed connection,
    // after taking the channel's snapshot for the image request; returns what was pushed.
    AlarmMessage pushAlarm(std::string_view channelId, std::string_view name);
    // The same with the timestamp text as given (a late, future or hostile one); its snapshot
    // is kept under that text for the image request.
    AlarmMessage pushAlarmStamped(std::string_view channelId, std::string_view name,
                                  std::string_view timestamp);
    // Pushes the message as it is (any timestamp text); returns how many subscribers got it.
    std::size_t pushAlarmMessage(const AlarmMessage& alarm);
    // Renders and keeps the snapshot of an alarm to be pushed later with pushAlarmMessage(),
    // for as long as the server runs.
    AlarmMessage prepareAlarm(std::string_view channelId, std::string_view name,
                              std::string_view timestamp);
    // The next alarm of the schedule's rotation of names and channels.
    std::optional<AlarmMessage> pushNextScheduledAlarm();

    // What was served, for tests to assert.
    std::vector<std::string> servedRequests() const;  // request names in arrival order
    std::size_t requestCount(std::string_view name) const;
    std::optional<int> lastPtzCommand(std::string_view channelId) const;
    std::optional<PtzView> ptzView(std::string_view channelId) const;
    std::size_t subscriberCount() const;
    // Connections accepted and not yet closed: each holds one descriptor.
    std::size_t openConnections() const;
    std::size_t framesSent() const;  // live frames sent on every stream, in all
    // Live frames sent on the channel's streams since the start; frames carry their number
    // (from 1 on each stream) and send time in a JPEG comment, see frame_stamp.h.
    std::size_t framesSent(std::string_view channelId) const;
    // The number of the frame last sent on any stream of the channel; nothing before the
    // first. With several streams of one channel, liveStreams() tells them apart.
    std::optional<long long> lastFrameNumber(std::string_view channelId) const;
    std::vector<StreamStatus> liveStreams() const;  // the streams running now
    // True as soon as the condition holds, false when the time-out passes first.
    bool waitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const;
    bool waitForRequests(std::string_view name, std::size_t count,
                         std::chrono::milliseconds timeout) const;
    // Waits until no more than `atMost` connections are open.
    bool waitForOpenConnections(std::size_t atMost, std::chrono::milliseconds timeout) const;
    // Waits until the channel's streams have sent `count` frames in all.
    bool waitForFrames(std::string_view channelId, std::size_t count,
                       std::chrono::milliseconds timeout) const;
    // Waits until the last PTZ command applied to the channel is `code`.
    bool waitForPtzCommand(std::string_view channelId, int code,
                           std::chrono::milliseconds timeout) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace krt::sim
