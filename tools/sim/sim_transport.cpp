#include "sim_transport.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "protocol/socket_common.h"

namespace krt::sim {
namespace {

// Requests are a few hundred bytes; anything far larger is not a client of ours.
constexpr std::uint32_t kMaxRequestBytes = 64 * 1024;
// A subscriber or viewer that stops reading must not hold a pushing thread for ever.
constexpr std::chrono::seconds kSendTimeout{10};
constexpr std::string_view kUnreadableRequest = "(unreadable)";

std::optional<std::vector<char>> readRequestFrame(int fd) {
    PktHeader header;
    if (kmMgrSocketCommon::recvPktHeader(fd, header) != HeaderStatus::Ok ||
        header.payloadLength > kMaxRequestBytes) {
        return std::nullopt;
    }
    std::vector<char> payload(header.payloadLength);
    std::size_t received = 0;
    kmMgrSocketCommon::recvData(fd, payload, received);
    if (received != payload.size()) {
        return std::nullopt;
    }
    return payload;
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
    m_names.emplace_back(requestName);
    m_changed.notify_all();
}

std::vector<std::string> RequestLog::names() const {
    std::lock_guard lock(m_mutex);
    return m_names;
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
    for (;;) {
        const int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;  // the listener was shut down
        }
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

void SimTransport::reapFinished() {
    std::list<Running> done;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            const auto next = std::next(it);
            if (it->finished) {
                done.splice(done.end(), m_connections, it);
            }
            it = next;
        }
    }
    for (Running& running : done) {
        running.thread.join();
    }
}

void SimTransport::finish(const SimConnection& connection) {
    std::lock_guard lock(m_mutex);
    for (Running& running : m_connections) {
        if (running.connection.get() == &connection) {
            running.finished = true;
        }
    }
}

void SimTransport::serveConnection(const std::shared_ptr<SimConnection>& connection) {
    while (const auto payload = readRequestFrame(connection->fd())) {
        if (!handleRequest(connection, *payload)) {
            break;
        }
    }
    connection->shutdown();
    connection->markClosed();
    finish(*connection);
}

// ---- requests ----------------------------------------------------------------------------

bool SimTransport::handleRequest(const std::shared_ptr<SimConnection>& connection,
                                 std::span<const char> payload) {
    const std::optional<ParsedRequest> request = parseRequest(payload);
    const std::string name = request ? request->id : std::string(kUnreadableRequest);
    m_requests.record(name);
    const std::vector<FaultMode> faults = m_faults.take(name);
    connection->applyFaults(faults);
    if (const FaultMode* fault = findFault(faults, FaultKind::Delay)) {
        if (!m_stop.waitFor(std::chrono::milliseconds(fault->delayMs))) {
            return false;
        }
    }
    Served served;
    if (const FaultMode* fault = findFault(faults, FaultKind::ReplyText)) {
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
