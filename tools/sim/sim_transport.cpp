#include "sim_transport.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "protocol/packet_framing.h"

namespace krt::sim {
namespace {

// A subscriber or viewer that stops reading must not hold a pushing thread for ever.
constexpr std::chrono::seconds kSendTimeout{10};
// Out of descriptors or memory: give the system a moment instead of spinning.
constexpr std::chrono::milliseconds kAcceptPause{100};
constexpr std::string_view kUnreadableRequest = "(unreadable)";
// The request log keeps the latest names, each cut to this length.
constexpr std::size_t kKeptRequestNames = 10'000;
constexpr std::size_t kMaxLoggedNameBytes = 128;

enum class ReadEnd { Complete, Closed, Idle };

// Fills the buffer unless the peer closes, the socket fails or the deadline passes.
ReadEnd receiveAll(int fd, std::span<char> buffer, std::optional<SimClock::time_point> deadline) {
    std::size_t received = 0;
    while (received < buffer.size()) {
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - SimClock::now());
            if (left.count() <= 0) {
                return ReadEnd::Idle;
            }
            pollfd watched{fd, POLLIN, 0};
            const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) {
                return ReadEnd::Closed;
            }
            if (ready <= 0) {
                continue;
            }
        }
        const ssize_t count = ::recv(fd, buffer.data() + received, buffer.size() - received, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return ReadEnd::Closed;
        }
        received += static_cast<std::size_t>(count);
    }
    return ReadEnd::Complete;
}

// One whole request frame; `end` says why there is none.
std::optional<std::vector<char>> readRequestFrame(int fd,
                                                  std::optional<SimClock::time_point> deadline,
                                                  ReadEnd& end) {
    std::array<char, kPktHeaderSize> header{};
    end = receiveAll(fd, header, deadline);
    if (end != ReadEnd::Complete) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> length = requestPayloadLength(header);
    if (!length) {
        end = ReadEnd::Closed;
        return std::nullopt;
    }
    std::vector<char> payload(*length);
    end = receiveAll(fd, payload, deadline);
    if (end != ReadEnd::Complete) {
        return std::nullopt;
    }
    return payload;
}

// accept(2) errors that concern only the connection being accepted.
bool onlyThisConnectionFailed(int error) {
    switch (error) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
        case EAGAIN:
            return true;
        default:
            return false;
    }
}

const FaultMode* findFault(const std::vector<FaultMode>& faults, FaultKind kind) {
    const auto found = std::find_if(faults.begin(), faults.end(),
                                    [kind](const FaultMode& fault) { return fault.kind == kind; });
    return found == faults.end() ? nullptr : &*found;
}

}  // namespace

// ---- fault budget and request log --------------------------------------------------------

FaultBudget::FaultBudget(const std::vector<FaultMode>& faults) : m_faults(faults) {
    for (const FaultMode& fault : faults) {
        m_usesLeft.push_back(fault.times);
    }
}

std::vector<FaultMode> FaultBudget::take(std::string_view requestName) {
    std::vector<FaultMode> taken;
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_faults.size(); ++i) {
        std::optional<int>& usesLeft = m_usesLeft[i];
        if (!m_faults[i].appliesTo(requestName) || (usesLeft && *usesLeft <= 0)) {
            continue;
        }
        if (usesLeft) {
            --*usesLeft;
        }
        taken.push_back(m_faults[i]);
    }
    return taken;
}

void RequestLog::record(std::string_view requestName) {
    std::lock_guard lock(m_mutex);
    m_names.emplace_back(requestName.substr(0, kMaxLoggedNameBytes));
    if (m_names.size() > kKeptRequestNames) {
        m_names.pop_front();
    }
    m_changed.notify_all();
}

std::vector<std::string> RequestLog::names() const {
    std::lock_guard lock(m_mutex);
    return {m_names.begin(), m_names.end()};
}

std::size_t RequestLog::count(std::string_view requestName) const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count(m_names.begin(), m_names.end(), requestName));
}

bool RequestLog::waitFor(std::string_view requestName, std::size_t count,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(std::count(m_names.begin(), m_names.end(), requestName)) >=
               count;
    });
}

// ---- connections -------------------------------------------------------------------------

SimTransport::SimTransport(const SimConfig& config, const StopSignal& stop, const SimLogger& logger,
                           Handler handler)
    : m_config(config),
      m_stop(stop),
      m_logger(logger),
      m_handler(std::move(handler)),
      m_faults(config.faults) {}

SimTransport::~SimTransport() {
    stop();
}

void SimTransport::start(TcpSocket listener) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&local), &length);
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, address, sizeof address);
    std::lock_guard lock(m_mutex);
    if (m_started) {
        throw std::logic_error("SimServer started twice");
    }
    m_started = true;
    m_boundAddress = address;
    m_boundPort = ntohs(local.sin_port);
    m_listener = std::move(listener);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

bool SimTransport::started() const {
    std::lock_guard lock(m_mutex);
    return m_started;
}

void SimTransport::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_started || m_stopped) {
            return;
        }
        m_stopped = true;
        shutdownBoth(m_listener.fd());
    }
    m_acceptor.join();
    std::list<Running> remaining;
    {
        std::lock_guard lock(m_mutex);
        remaining.swap(m_connections);
        for (const Running& running : remaining) {
            running.connection->shutdown();
        }
    }
    for (Running& running : remaining) {
        running.thread.join();
    }
}

std::string SimTransport::address() const {
    std::lock_guard lock(m_mutex);
    return m_boundAddress;
}

std::uint16_t SimTransport::port() const {
    std::lock_guard lock(m_mutex);
    return m_boundPort;
}

void SimTransport::acceptLoop() {
    int lastError = 0;
    for (;;) {
        const int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (m_stop.raised()) {
                return;  // the listener was shut down
            }
            if (error != lastError) {
                m_logger.line("accept", "failed: " + std::generic_category().message(error) +
                                            (onlyThisConnectionFailed(error) ? "" : ", pausing"));
                lastError = error;
            }
            if (!onlyThisConnectionFailed(error) && !m_stop.waitFor(kAcceptPause)) {
                return;
            }
            continue;
        }
        lastError = 0;
        setSendTimeout(fd, kSendTimeout);
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        auto connection = std::make_shared<SimConnection>(TcpSocket(fd), m_stop);
        reapFinished();
        std::lock_guard lock(m_mutex);
        if (m_stopped) {
            return;
        }
        Running& running = m_connections.emplace_back();
        running.connection = connection;
        running.thread = std::thread([this, connection] { serveConnection(connection); });
    }
}

std::list<SimTransport::Running> SimTransport::takeFinished() {
    std::list<Running> done;
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        const auto next = std::next(it);
        if (it->finished) {
            done.splice(done.end(), m_connections, it);
        }
        it = next;
    }
    return done;
}

void SimTransport::reapFinished() {
    std::list<Running> done;
    {
        std::lock_guard lock(m_mutex);
        done = takeFinished();
    }
    for (Running& running : done) {
        running.thread.join();
    }
}

// Each connection that ends joins those that ended before it, so that no more than one ended
// thread waits for its join however long no new connection comes.
void SimTransport::finish(const SimConnection& connection) {
    std::list<Running> done;
    {
        std::lock_guard lock(m_mutex);
        done = takeFinished();
        for (Running& running : m_connections) {
            if (running.connection.get() == &connection) {
                running.finished = true;
            }
        }
        m_connectionsChanged.notify_all();
    }
    for (Running& running : done) {
        running.thread.join();
    }
}

std::size_t SimTransport::countOpenConnections() const {
    return static_cast<std::size_t>(
        std::count_if(m_connections.begin(), m_connections.end(),
                      [](const Running& running) { return !running.finished; }));
}

std::size_t SimTransport::openConnections() const {
    std::lock_guard lock(m_mutex);
    return countOpenConnections();
}

bool SimTransport::waitForOpenConnections(std::size_t atMost,
                                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_connectionsChanged.wait_for(lock, timeout,
                                         [&] { return countOpenConnections() <= atMost; });
}

void SimTransport::serveConnection(const std::shared_ptr<SimConnection>& connection) {
    const std::chrono::milliseconds idleLimit(m_config.idleTimeoutMs);
    for (;;) {
        std::optional<SimClock::time_point> deadline;
        if (!connection->waitsWithoutRequests()) {
            deadline = SimClock::now() + idleLimit;
        }
        ReadEnd end = ReadEnd::Closed;
        const auto payload = readRequestFrame(connection->fd(), deadline, end);
        if (!payload) {
            if (end == ReadEnd::Idle) {
                m_logger.line(connection->peer(), "closed: no request within " +
                                                      std::to_string(idleLimit.count()) + " ms");
            }
            break;
        }
        if (!handleRequest(connection, *payload)) {
            break;
        }
    }
    if (connection->silent()) {
        m_stop.waitForStop();  // neither read nor closed: the peer must find out by itself
    }
    connection->close();
    finish(*connection);
}

// ---- requests ----------------------------------------------------------------------------

bool SimTransport::handleRequest(const std::shared_ptr<SimConnection>& connection,
                                 std::span<const char> payload) {
    const std::optional<ParsedRequest> request = parseRequest(payload);
    const std::string name = request ? printable(request->id) : std::string(kUnreadableRequest);
    m_requests.record(name);
    const std::vector<FaultMode> faults = m_faults.take(name);
    connection->applyFaults(faults);
    if (const FaultMode* fault = findFault(faults, FaultKind::Delay)) {
        if (!m_stop.waitFor(std::chrono::milliseconds(fault->delayMs))) {
            return false;
        }
    }
    Served served;
    if (findFault(faults, FaultKind::Stall) != nullptr) {
        connection->stall();
    }
    if (connection->stalled()) {
        served.outcome = "fault: stalled, not answered";
    } else if (const FaultMode* fault = findFault(faults, FaultKind::ReplyText)) {
        served = {connection->sendFrame(fault->text), "fault: reply text"};
    } else if (const FaultMode* refusal = findFault(faults, FaultKind::Refuse)) {
        served = {connection->sendFrame(statusReply(refusal->code, "Request refused")),
                  "fault: refused with " + std::to_string(refusal->code)};
    } else if (!request) {
        served = {connection->sendFrame(statusReply(-10002, "Request not understood")),
                  "not understood"};
    } else {
        served = m_handler(connection, *request);
    }
    m_logger.line(connection->peer(), name + " -> " + served.outcome);
    return served.keepOpen && !connection->cutOff();
}

}  // namespace krt::sim
