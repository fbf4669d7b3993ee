#include "sim_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <cerrno>
#include <mutex>
#include <system_error>

#include "sim_alarms.h"
#include "sim_connection.h"
#include "sim_transport.h"
#include "sim_video.h"

namespace krt::sim {

// The parts of the server, each with its own lock; this class only routes requests to them.
struct SimServer::Impl {
    Impl(SimConfig configuration, LogSink sink)
        : config(std::move(configuration)),
          logger(std::move(sink)),
          video(config, stopSignal, logger),
          alarms(config, stopSignal, logger, video),
          transport(config, stopSignal, logger,
                    [this](const std::shared_ptr<SimConnection>& connection,
                           const ParsedRequest& request) { return serve(connection, request); }) {}

    SimTransport::Served serve(const std::shared_ptr<SimConnection>& connection,
                               const ParsedRequest& request);

    const SimConfig config;
    const SimLogger logger;
    StopSignal stopSignal;
    std::mutex stopMutex;  // one stop at a time: the destructor may follow a test's stop()
    SimVideo video;
    SimAlarms alarms;
    SimTransport transport;  // last: its threads use the other parts until it stops
};

SimTransport::Served SimServer::Impl::serve(const std::shared_ptr<SimConnection>& connection,
                                            const ParsedRequest& request) {
    const std::string& id = request.id;
    SimTransport::Served served;
    if (std::optional<PlainReply> plain = plainReply(config, request)) {
        served.keepOpen = connection->sendFrame(plain->reply);
        served.outcome = std::move(plain->outcome);
    } else if (id == "setalarmnotifications") {
        served.keepOpen = alarms.serveSubscription(connection);
        served.outcome = "subscribed";
    } else if (id == "getAlarmImage") {
        served.keepOpen = alarms.serveAlarmImage(*connection, request, served.outcome);
    } else if (id == "getLowResolutionLiveVideo") {
        served.keepOpen =
            video.serveLiveVideo(*connection, request, LiveResolution::Low, served.outcome);
    } else if (id == "getMediumResolutionLiveVideo") {
        served.keepOpen =
            video.serveLiveVideo(*connection, request, LiveResolution::Medium, served.outcome);
    } else {
        // PTZCommand2: no reply, the client never reads its PTZ connection, and keeps it
        // open for the next command however long that takes.
        video.applyPtz(request, served.outcome);
        connection->waitWithoutRequests();
    }
    return served;
}

// ---- the public face ---------------------------------------------------------------------

SimServer::SimServer(SimConfig config, LogSink log)
    : m_impl(std::make_unique<Impl>(std::move(config), std::move(log))) {}

SimServer::~SimServer() {
    stop();
}

void SimServer::start(std::string_view address, std::uint16_t port) {
    const auto parsed = parseIPv4(address);
    if (!parsed) {
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                "not a dotted IPv4 address: " + std::string(address));
    }
    TcpSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    const int reuse = 1;
    setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = *parsed;
    local.sin_port = htons(port);
    if (!socket.valid() ||
        ::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(socket.fd(), 128) != 0) {
        throw std::system_error(
            errno, std::generic_category(),
            "cannot listen on " + std::string(address) + ":" + std::to_string(port));
    }
    start(std::move(socket));
}

void SimServer::start(TcpSocket listener) {
    m_impl->transport.start(std::move(listener));
    m_impl->alarms.startSchedule();
}

void SimServer::stop() {
    Impl& impl = *m_impl;
    std::lock_guard lock(impl.stopMutex);
    if (!impl.transport.started() || impl.stopSignal.raised()) {
        return;
    }
    impl.stopSignal.raise();
    impl.alarms.stopSchedule();
    impl.transport.stop();
}

const SimConfig& SimServer::config() const {
    return m_impl->config;
}

std::string SimServer::address() const {
    return m_impl->transport.address();
}

std::uint16_t SimServer::port() const {
    return m_impl->transport.port();
}

AlarmMessage SimServer::pushAlarm(std::string_view channelId, std::string_view name) {
    return m_impl->alarms.pushAlarm(channelId, name);
}

AlarmMessage SimServer::pushAlarmStamped(std::string_view channelId, std::string_view name,
                                         std::string_view timestamp) {
    return m_impl->alarms.pushAlarmStamped(channelId, name, timestamp);
}

std::size_t SimServer::pushAlarmMessage(const AlarmMessage& alarm) {
    return m_impl->alarms.pushAlarmMessage(alarm);
}

AlarmMessage SimServer::prepareAlarm(std::string_view channelId, std::string_view name,
                                     std::string_view timestamp) {
    return m_impl->alarms.prepareAlarm(channelId, name, timestamp);
}

std::optional<AlarmMessage> SimServer::pushNextScheduledAlarm() {
    return m_impl->alarms.pushNextScheduledAlarm();
}

std::vector<std::string> SimServer::servedRequests() const {
    return m_impl->transport.requests().names();
}

std::size_t SimServer::requestCount(std::string_view name) const {
    return m_impl->transport.requests().count(name);
}

std::optional<int> SimServer::lastPtzCommand(std::string_view channelId) const {
    return m_impl->video.lastPtzCommand(channelId);
}

std::optional<PtzView> SimServer::ptzView(std::string_view channelId) const {
    return m_impl->video.ptzView(channelId);
}

std::size_t SimServer::subscriberCount() const {
    return m_impl->alarms.subscriberCount();
}

std::size_t SimServer::openConnections() const {
    return m_impl->transport.openConnections();
}

bool SimServer::waitForOpenConnections(std::size_t atMost,
                                       std::chrono::milliseconds timeout) const {
    return m_impl->transport.waitForOpenConnections(atMost, timeout);
}

std::size_t SimServer::framesSent() const {
    return m_impl->video.framesSent();
}

std::size_t SimServer::framesSent(std::string_view channelId) const {
    return m_impl->video.framesSent(channelId);
}

std::optional<long long> SimServer::lastFrameNumber(std::string_view channelId) const {
    return m_impl->video.lastFrameNumber(channelId);
}

std::vector<StreamStatus> SimServer::liveStreams() const {
    return m_impl->video.liveStreams();
}

bool SimServer::waitForFrames(std::string_view channelId, std::size_t count,
                              std::chrono::milliseconds timeout) const {
    return m_impl->video.waitForFrames(channelId, count, timeout);
}

bool SimServer::waitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const {
    return m_impl->alarms.waitForSubscribers(count, timeout);
}

bool SimServer::waitForRequests(std::string_view name, std::size_t count,
                                std::chrono::milliseconds timeout) const {
    return m_impl->transport.requests().waitFor(name, count, timeout);
}

bool SimServer::waitForPtzCommand(std::string_view channelId, int code,
                                  std::chrono::milliseconds timeout) const {
    return m_impl->video.waitForPtzCommand(channelId, code, timeout);
}

}  // namespace krt::sim
