#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/tcp_socket.h"
#include "sim_config.h"

namespace krt::sim {

using SimClock = std::chrono::steady_clock;

// Raised once when the server stops; every wait of every part of the server ends at it.
class StopSignal {
  public:
    void raise();
    bool raised() const;
    // False when the stop came first.
    bool waitUntil(SimClock::time_point deadline) const;
    bool waitFor(std::chrono::milliseconds duration) const {
        return waitUntil(SimClock::now() + duration);
    }
    void waitForStop() const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_raised = false;
};

// One line per request served and per alarm pushed, from any thread.
class SimLogger {
  public:
    using Sink = std::function<void(std::string_view line)>;
    explicit SimLogger(Sink sink) : m_sink(std::move(sink)) {}
    void line(std::string_view peer, std::string_view text) const;

  private:
    Sink m_sink;
};

// The text with control characters shown as '?': what a hostile client sends must not start
// log lines of its own.
std::string printable(std::string_view text);

// "YYYY-MM-DD hh:mm:ss.mmm" of the local time now, as the log and the captions show it.
std::string clockText();

// How the frames of one connection go out, changed by the faults its requests picked up.
// Frames are counted from the first sent on the connection.
struct SendPolicy {
    std::optional<std::uint64_t> closeAtByte;
    std::optional<std::uint64_t> brokenFromFrame;
    std::optional<std::uint64_t> zeroLengthFromFrame;
    std::optional<std::uint64_t> overstatedFromFrame;
    std::size_t overstatedBytes = 0;
    std::optional<std::uint64_t> silentFromFrame;
    std::optional<FaultMode> trickle;
    std::optional<std::string> pushText;
};

// The bytes of frame number `frameIndex` (header and payload) under the policy, before any
// cut or trickle.
std::string framedBytes(std::string_view payload, const SendPolicy& policy,
                        std::uint64_t frameIndex);

// One accepted connection: its socket and the framing of everything sent on it. Replies of
// its own thread and alarms pushed from others share the socket one frame at a time.
class SimConnection {
  public:
    SimConnection(TcpSocket socket, const StopSignal& stop);

    int fd() const { return m_socket.fd(); }
    const std::string& peer() const { return m_peer; }

    // Takes on the faults of a request for everything sent from now on.
    void applyFaults(const std::vector<FaultMode>& faults);
    // Sends one frame; false when the connection failed, was cut by a fault or went silent.
    bool sendFrame(std::string_view payload);
    // Sends one frame and, once it is out, runs `afterSent` before any other frame can go.
    bool sendFrameThen(std::string_view payload, const std::function<void()>& afterSent);
    // Sends an alarm, or the text a fault put in its place.
    bool sendPush(std::string_view payload);
    // True once a fault's byte budget is spent: the connection is to be closed.
    bool cutOff() const;

    // A stalled connection reads its requests and answers none of them.
    void stall() { m_stalled = true; }
    bool stalled() const { return m_stalled; }
    // A silent connection sends and reads nothing more, and is not closed until the server
    // stops.
    bool silent() const { return m_silent; }
    // Subscriptions, PTZ connections and stalled connections wait for ever for a next
    // request; others are closed when none comes in time.
    void waitWithoutRequests() { m_waitsWithoutRequests = true; }
    bool waitsWithoutRequests() const { return m_waitsWithoutRequests || m_stalled; }

    // Wakes every thread blocked on the socket; nothing once it is closed.
    void shutdown() const;
    // Gives the descriptor back as soon as the connection's own thread is done with it, even
    // while pushers still hold the connection: their later sends and shutdowns do nothing.
    void close();
    bool closed() const { return m_closed; }

  private:
    bool sendLocked(std::string_view payload);

    // Closed only with both mutexes held: sends use the descriptor under the first, shutdowns
    // from other threads under the second, so neither can reach a reused descriptor number.
    TcpSocket m_socket;
    const std::string m_peer;
    const StopSignal& m_stop;
    mutable std::mutex m_sendMutex;
    mutable std::mutex m_socketMutex;
    SendPolicy m_policy;
    std::uint64_t m_bytesSent = 0;
    std::uint64_t m_framesSent = 0;
    std::atomic<bool> m_closed = false;
    std::atomic<bool> m_stalled = false;
    std::atomic<bool> m_silent = false;
    std::atomic<bool> m_waitsWithoutRequests = false;
};

}  // namespace krt::sim
