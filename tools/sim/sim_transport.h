#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/tcp_socket.h"
#include "sim_config.h"
#include "sim_connection.h"
#include "sim_replies.h"

namespace krt::sim {

// Which faults of the configuration are still to be applied: each one as often as its
// `times` allows.
class FaultBudget {
  public:
    explicit FaultBudget(const std::vector<FaultMode>& faults);
    // The faults that apply to this request, each use counted.
    std::vector<FaultMode> take(std::string_view requestName);

  private:
    const std::vector<FaultMode>& m_faults;
    std::mutex m_mutex;
    std::vector<std::optional<int>> m_usesLeft;
};

// The names of the latest requests served (10,000), in arrival order.
class RequestLog {
  public:
    void record(std::string_view requestName);
    std::vector<std::string> names() const;
    std::size_t count(std::string_view requestName) const;
    bool waitFor(std::string_view requestName, std::size_t count,
                 std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<std::string> m_names;
};

// Accepts connections, serves each on a thread of its own, reads its requests, applies the
// configured faults to them and hands the rest to the server's handler.
class SimTransport {
  public:
    struct Served {
        bool keepOpen = true;
        std::string outcome;  // for the request log
    };
    using Handler =
        std::function<Served(const std::shared_ptr<SimConnection>&, const ParsedRequest&)>;

    SimTransport(const SimConfig& config, const StopSignal& stop, const SimLogger& logger,
                 Handler handler);
    ~SimTransport();
    SimTransport(const SimTransport&) = delete;
    SimTransport& operator=(const SimTransport&) = delete;

    // Throws std::logic_error when started twice.
    void start(TcpSocket listener);
    // After the stop signal: ends accepting, shuts every connection down and joins its thread.
    void stop();
    bool started() const;

    std::string address() const;
    std::uint16_t port() const;
    const RequestLog& requests() const { return m_requests; }
    // Connections accepted and not yet closed (their descriptors are open).
    std::size_t openConnections() const;
    bool waitForOpenConnections(std::size_t atMost, std::chrono::milliseconds timeout) const;

  private:
    struct Running {
        std::shared_ptr<SimConnection> connection;
        std::thread thread;
        bool finished = false;
    };

    void acceptLoop();
    void serveConnection(const std::shared_ptr<SimConnection>& connection);
    bool handleRequest(const std::shared_ptr<SimConnection>& connection,
                       std::span<const char> payload);
    void finish(const SimConnection& connection);
    void reapFinished();
    std::list<Running> takeFinished();         // with the mutex held
    std::size_t countOpenConnections() const;  // with the mutex held

    const SimConfig& m_config;
    const StopSignal& m_stop;
    const SimLogger& m_logger;
    const Handler m_handler;
    FaultBudget m_faults;
    RequestLog m_requests;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_connectionsChanged;
    bool m_started = false;
    bool m_stopped = false;
    std::list<Running> m_connections;
    TcpSocket m_listener;
    std::string m_boundAddress;
    std::uint16_t m_boundPort = 0;
    std::thread m_acceptor;
};

}  // namespace krt::sim
