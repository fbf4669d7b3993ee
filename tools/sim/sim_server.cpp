#include "sim_server.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "frame_renderer.h"
#include "frame_scene.h"
#include "protocol/diag_log.h"
#include "protocol/socket_common.h"

namespace krt::sim {
namespace {

using Clock = std::chrono::steady_clock;

// Requests are a few hundred bytes; anything far larger is not a client of ours.
constexpr std::uint32_t kMaxRequestBytes = 64 * 1024;
// A subscriber or viewer that stops reading must not hold a pushing thread for ever.
constexpr std::chrono::seconds kSendTimeout{10};
constexpr std::size_t kKeptSnapshots = 256;
constexpr std::string_view kUnreadableRequest = "(unreadable)";
constexpr char kBrokenStartOfFrame[4] = {'X', 'M', 'C', 'S'};

std::string clockText(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second, time.millisecond);
    return text;
}

std::string alarmTimestamp(const LocalTime& time) {
    char text[18];
    formatTimestamp(time, text, sizeof text);
    return text;
}

std::string peerText(int fd) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return "?";
    }
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

// How the frames of one connection go out, changed by the faults its requests picked up.
struct SendPolicy {
    std::optional<std::uint64_t> closeAtByte;
    std::optional<std::uint64_t> brokenFromFrame;
    std::optional<FaultMode> trickle;
};

struct Connection {
    explicit Connection(int fd) : socket(fd), peer(peerText(fd)) {}

    TcpSocket socket;
    std::string peer;
    std::mutex sendMutex;  // one frame at a time: replies and pushed alarms share the socket
    SendPolicy policy;
    std::uint64_t bytesSent = 0;
    std::uint64_t framesSent = 0;
    bool subscribed = false;  // guarded by the server's mutex
    bool finished = false;    // guarded by the server's mutex
    std::thread thread;
};

struct StoredSnapshot {
    AlarmMessage alarm;
    std::string jpeg;
};

enum class Resolution { Low, Medium };

}  // namespace

struct SimServer::Impl {
    Impl(SimConfig configuration, LogSink sink)
        : config(std::move(configuration)), log(std::move(sink)), startTime(Clock::now()) {}

    void acceptLoop();
    void serveConnection(const std::shared_ptr<Connection>& connection);
    bool handleRequest(Connection& connection, std::span<const char> payload);
    bool dispatch(Connection& connection, const ParsedRequest& request, std::string& outcome);
    bool serveLogin(Connection& connection, const ParsedRequest& request, std::string& outcome);
    bool serveSubscription(Connection& connection);
    bool serveAlarmImage(Connection& connection, const ParsedRequest& request,
                         std::string& outcome);
    bool serveLiveVideo(Connection& connection, const ParsedRequest& request, Resolution resolution,
                        std::string& outcome);
    void servePtz(const ParsedRequest& request, std::string& outcome);
    void streamFrames(Connection& connection, const SimChannel& channel, Resolution resolution);
    void scheduleLoop();
    AlarmMessage pushAlarm(std::string_view channelId, std::string_view name);
    std::size_t pushAlarmMessage(const AlarmMessage& alarm);
    std::optional<AlarmMessage> pushNextScheduledAlarm();

    std::vector<FaultMode> takeFaults(std::string_view requestName);
    bool sendFrame(Connection& connection, std::string_view payload);
    bool sendBytes(Connection& connection, std::string_view bytes);
    bool waitUntil(Clock::time_point deadline) const;
    bool waitFor(std::chrono::milliseconds duration) const {
        return waitUntil(Clock::now() + duration);
    }
    void record(std::string_view requestName);
    void reapFinished();
    std::string renderSnapshot(const SimChannel& channel, const std::string& banner) const;
    std::string renderFrame(FrameRenderer& renderer, const SimChannel& channel, int width,
                            int height, long long frameNumber,
                            const std::optional<std::string>& banner) const;
    PtzView currentView(const std::string& channelId) const;
    void writeLine(std::string_view peer, std::string_view text) const;
    std::size_t countSubscribers() const;  // with the mutex held

    const SimConfig config;
    const LogSink log;
    const Clock::time_point startTime;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    bool started = false;
    std::list<std::shared_ptr<Connection>> connections;
    std::vector<std::string> served;
    std::vector<std::optional<int>> faultUsesLeft;
    std::map<std::string, int> lastPtz;
    std::map<std::string, PtzMotion> motions;
    std::deque<StoredSnapshot> snapshots;
    std::size_t nextScheduled = 0;
    std::size_t streamedFrames = 0;

    TcpSocket listener;
    std::string boundAddress;
    std::uint16_t boundPort = 0;
    std::thread acceptor;
    std::thread scheduler;
};

// ---- connections -------------------------------------------------------------------------

void SimServer::Impl::acceptLoop() {
    for (;;) {
        const int fd = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;  // the listener was shut down
        }
        setSendTimeout(fd, kSendTimeout);
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        auto connection = std::make_shared<Connection>(fd);
        reapFinished();
        std::lock_guard lock(mutex);
        if (stopping) {
            return;
        }
        connections.push_back(connection);
        connection->thread = std::thread([this, connection] { serveConnection(connection); });
    }
}

void SimServer::Impl::reapFinished() {
    std::list<std::shared_ptr<Connection>> done;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->finished) {
                done.push_back(*it);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& connection : done) {
        connection->thread.join();
    }
}

namespace {

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

}  // namespace

void SimServer::Impl::serveConnection(const std::shared_ptr<Connection>& connection) {
    while (const auto payload = readRequestFrame(connection->socket.fd())) {
        if (!handleRequest(*connection, *payload)) {
            break;
        }
    }
    shutdownBoth(connection->socket.fd());
    std::lock_guard lock(mutex);
    connection->finished = true;
    connection->subscribed = false;
    changed.notify_all();
}

// ---- requests ----------------------------------------------------------------------------

std::vector<FaultMode> SimServer::Impl::takeFaults(std::string_view requestName) {
    std::vector<FaultMode> taken;
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < config.faults.size(); ++i) {
        std::optional<int>& usesLeft = faultUsesLeft[i];
        if (!config.faults[i].appliesTo(requestName) || (usesLeft && *usesLeft <= 0)) {
            continue;
        }
        if (usesLeft) {
            --*usesLeft;
        }
        taken.push_back(config.faults[i]);
    }
    return taken;
}

namespace {

const FaultMode* findFault(const std::vector<FaultMode>& faults, FaultKind kind) {
    const auto found = std::find_if(faults.begin(), faults.end(),
                                    [kind](const FaultMode& fault) { return fault.kind == kind; });
    return found == faults.end() ? nullptr : &*found;
}

}  // namespace

bool SimServer::Impl::handleRequest(Connection& connection, std::span<const char> payload) {
    const std::optional<ParsedRequest> request = parseRequest(payload);
    const std::string name = request ? request->id : std::string(kUnreadableRequest);
    record(name);
    const std::vector<FaultMode> faults = takeFaults(name);
    {
        std::lock_guard lock(connection.sendMutex);
        if (const FaultMode* fault = findFault(faults, FaultKind::CloseAfterBytes)) {
            connection.policy.closeAtByte = connection.bytesSent + fault->bytes;
        }
        if (const FaultMode* fault = findFault(faults, FaultKind::BadStartOfFrame)) {
            connection.policy.brokenFromFrame =
                connection.framesSent + static_cast<std::uint64_t>(fault->afterFrames);
        }
        if (const FaultMode* fault = findFault(faults, FaultKind::Trickle)) {
            connection.policy.trickle = *fault;
        }
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::Delay)) {
        if (!waitFor(std::chrono::milliseconds(fault->delayMs))) {
            return false;
        }
    }
    std::string outcome;
    bool keepOpen = true;
    if (const FaultMode* fault = findFault(faults, FaultKind::ReplyText)) {
        keepOpen = sendFrame(connection, fault->text);
        outcome = "fault: reply text";
    } else if (const FaultMode* refusal = findFault(faults, FaultKind::Refuse)) {
        keepOpen = sendFrame(connection, statusReply(refusal->code, "Request refused"));
        outcome = "fault: refused with " + std::to_string(refusal->code);
    } else if (!request) {
        keepOpen = sendFrame(connection, statusReply(-10002, "Request not understood"));
        outcome = "not understood";
    } else {
        keepOpen = dispatch(connection, *request, outcome);
    }
    writeLine(connection.peer, name + " -> " + outcome);
    std::lock_guard lock(connection.sendMutex);
    const auto& closeAt = connection.policy.closeAtByte;
    return keepOpen && !(closeAt && connection.bytesSent >= *closeAt);
}

bool SimServer::Impl::dispatch(Connection& connection, const ParsedRequest& request,
                               std::string& outcome) {
    const std::string& id = request.id;
    if (id == "validateuser") {
        return serveLogin(connection, request, outcome);
    }
    if (id == "setalarmnotifications") {
        outcome = "subscribed";
        return serveSubscription(connection);
    }
    if (id == "getAlarmImage") {
        return serveAlarmImage(connection, request, outcome);
    }
    if (id == "getLowResolutionLiveVideo") {
        return serveLiveVideo(connection, request, Resolution::Low, outcome);
    }
    if (id == "getMediumResolutionLiveVideo") {
        return serveLiveVideo(connection, request, Resolution::Medium, outcome);
    }
    if (id == "PTZCommand2") {
        servePtz(request, outcome);
        return true;  // no reply: the client never reads its PTZ connection
    }
    std::string reply;
    if (id == "getMobileClientCommunicationVersion") {
        reply = versionReply(config);
        outcome = config.protocolVersion;
    } else if (id == "getAuthorizedChannelsIDList") {
        reply = channelListReply(config, request.field("UserName"));
        outcome = "user " + request.field("UserName");
    } else if (id == "getVideoChannelDetails") {
        reply = channelDetailsReply(config, request.field("kmChannelID"));
        outcome = "channel " + request.field("kmChannelID");
    } else if (id == "getCameraPTZStatus") {
        reply = ptzStatusReply(config, request.field("kmChannelID"));
        outcome = "channel " + request.field("kmChannelID");
    } else {
        reply = statusReply(-1, "Unknown request");
        outcome = "unknown request";
    }
    return sendFrame(connection, reply);
}

bool SimServer::Impl::serveLogin(Connection& connection, const ParsedRequest& request,
                                 std::string& outcome) {
    const std::string user = request.field("UserName");
    LoginOutcome login = loginReply(config, user, request.field("Password"));
    outcome = "user " + user + ": " + login.summary;
    return sendFrame(connection, login.reply);
}

bool SimServer::Impl::serveSubscription(Connection& connection) {
    std::lock_guard sendLock(connection.sendMutex);
    // Subscribed only once the reply is out, so that no push can overtake it.
    if (!sendBytes(connection, statusReply(1, "Alarm notifications started"))) {
        return false;
    }
    std::lock_guard lock(mutex);
    connection.subscribed = true;
    changed.notify_all();
    return true;
}

bool SimServer::Impl::serveAlarmImage(Connection& connection, const ParsedRequest& request,
                                      std::string& outcome) {
    AlarmMessage wanted{request.field("kmAlarmTimestamp"), request.field("kmAlarmName"),
                        request.field("kmAlarmChannelID")};
    outcome = "channel " + wanted.channelId + " " + wanted.name + " " + wanted.timestamp;
    std::string jpeg;
    {
        std::lock_guard lock(mutex);
        const auto found =
            std::find_if(snapshots.rbegin(), snapshots.rend(), [&](const StoredSnapshot& kept) {
                return kept.alarm.timestamp == wanted.timestamp && kept.alarm.name == wanted.name &&
                       kept.alarm.channelId == wanted.channelId;
            });
        if (found != snapshots.rend()) {
            jpeg = found->jpeg;
        }
    }
    // An alarm that is not (or no longer) kept gets the channel's picture of now.
    if (const SimChannel* channel = config.findChannel(wanted.channelId); jpeg.empty() && channel) {
        jpeg = renderSnapshot(*channel, wanted.name);
    }
    if (jpeg.empty()) {
        outcome += ": no image";
        return sendFrame(connection, statusReply(-1, "No image for this alarm"));
    }
    outcome += ": " + std::to_string(jpeg.size()) + " bytes";
    return sendFrame(connection, jpeg);
}

void SimServer::Impl::servePtz(const ParsedRequest& request, std::string& outcome) {
    const std::string channelId = request.field("kmChannelID");
    const int code = parseLeadingInt(request.field("kmPTZCommand"));
    const SimChannel* channel = config.findChannel(channelId);
    outcome = "channel " + channelId + " code " + std::to_string(code);
    std::lock_guard lock(mutex);
    lastPtz[channelId] = code;
    if (channel == nullptr || !channel->ptzEnabled()) {
        outcome += ": ignored, no PTZ";
    } else if (!motions[channelId].apply(code, Clock::now())) {
        outcome += ": ignored, unknown code";
    }
    changed.notify_all();
}

// ---- live video --------------------------------------------------------------------------

bool SimServer::Impl::serveLiveVideo(Connection& connection, const ParsedRequest& request,
                                     Resolution resolution, std::string& outcome) {
    const std::string channelId = request.param();
    const SimChannel* channel = config.findChannel(channelId);
    if (channel == nullptr) {
        outcome = "channel " + channelId + ": unknown";
        sendFrame(connection, statusReply(-1, "Unknown channel"));
        return false;  // a video connection serves one stream or none
    }
    if (!sendFrame(connection, statusReply(1, std::string(kLiveVideoAccepted)))) {
        return false;
    }
    writeLine(connection.peer, request.id + " channel " + channelId + " -> streaming");
    streamFrames(connection, *channel, resolution);
    outcome = "channel " + channelId + ": stream ended";
    return false;
}

void SimServer::Impl::streamFrames(Connection& connection, const SimChannel& channel,
                                   Resolution resolution) {
    const int divisor = resolution == Resolution::Low ? config.lowResolutionDivisor
                                                      : config.mediumResolutionDivisor;
    const int width = std::max(16, channel.width / divisor);
    const int height = std::max(16, channel.height / divisor);
    const auto period = channel.frameRate > 0
                            ? std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(1.0 / channel.frameRate))
                            : Clock::duration::zero();
    FrameRenderer renderer(config.jpegQuality);
    Clock::time_point next = Clock::now();
    for (long long frame = 1;; ++frame) {
        if (!sendFrame(connection, renderFrame(renderer, channel, width, height, frame, {}))) {
            return;
        }
        {
            std::lock_guard lock(mutex);
            ++streamedFrames;
            if (stopping) {
                return;
            }
        }
        if (period > Clock::duration::zero()) {
            // A viewer that fell behind starts afresh instead of getting a burst.
            next = std::max(next + period, Clock::now() - period);
            if (!waitUntil(next)) {
                return;
            }
        }
    }
}

PtzView SimServer::Impl::currentView(const std::string& channelId) const {
    std::lock_guard lock(mutex);
    const auto found = motions.find(channelId);
    return found == motions.end() ? PtzView{} : found->second.viewAt(Clock::now());
}

std::string SimServer::Impl::renderFrame(FrameRenderer& renderer, const SimChannel& channel,
                                         int width, int height, long long frameNumber,
                                         const std::optional<std::string>& banner) const {
    SceneInput input;
    input.channelId = channel.id;
    input.description = channel.description;
    input.width = width;
    input.height = height;
    input.frameNumber = frameNumber;
    input.seconds = std::chrono::duration<double>(Clock::now() - startTime).count();
    input.view = currentView(channel.id);
    input.showPtz = channel.ptzEnabled();
    input.clockText = clockText(currentLocalTime());
    input.banner = banner;
    return renderer.render(buildScene(input));
}

std::string SimServer::Impl::renderSnapshot(const SimChannel& channel,
                                            const std::string& banner) const {
    FrameRenderer renderer(config.jpegQuality);
    const int divisor = config.mediumResolutionDivisor;
    std::string jpeg = renderFrame(renderer, channel, std::max(16, channel.width / divisor),
                                   std::max(16, channel.height / divisor), 0, banner);
    padJpeg(jpeg, config.alarmImageMinBytes);
    return jpeg;
}

// ---- sending -----------------------------------------------------------------------------

bool SimServer::Impl::sendFrame(Connection& connection, std::string_view payload) {
    std::lock_guard lock(connection.sendMutex);
    return sendBytes(connection, payload);
}

// Sends one frame under the connection's policy; the caller holds its send mutex.
bool SimServer::Impl::sendBytes(Connection& connection, std::string_view payload) {
    std::string frame(kPktHeaderSize, '\0');
    if (kmMgrSocketCommon::createPktHeader(
            std::span(reinterpret_cast<std::uint8_t*>(frame.data()), frame.size()),
            static_cast<std::int64_t>(payload.size()), nullptr) != 1) {
        return false;
    }
    const SendPolicy& policy = connection.policy;
    if (policy.brokenFromFrame && connection.framesSent >= *policy.brokenFromFrame) {
        std::copy(std::begin(kBrokenStartOfFrame), std::end(kBrokenStartOfFrame), frame.begin());
    }
    frame.append(payload);
    std::string_view bytes = frame;
    bool cut = false;
    if (policy.closeAtByte) {
        const std::uint64_t allowed = *policy.closeAtByte > connection.bytesSent
                                          ? *policy.closeAtByte - connection.bytesSent
                                          : 0;
        cut = allowed < bytes.size();
        bytes = bytes.substr(
            0, static_cast<std::size_t>(std::min<std::uint64_t>(allowed, bytes.size())));
    }
    const int fd = connection.socket.fd();
    bool sent = true;
    if (policy.trickle) {
        const FaultMode& trickle = *policy.trickle;
        for (std::size_t offset = 0; sent && offset < bytes.size(); offset += trickle.pieceBytes) {
            sent = sendAll(fd, bytes.substr(offset, trickle.pieceBytes)) &&
                   waitFor(std::chrono::milliseconds(trickle.pauseMs));
        }
    } else {
        sent = sendAll(fd, bytes);
    }
    connection.bytesSent += bytes.size();
    ++connection.framesSent;
    if (cut) {
        shutdownBoth(fd);
    }
    return sent && !cut;
}

bool SimServer::Impl::waitUntil(Clock::time_point deadline) const {
    std::unique_lock lock(mutex);
    return !changed.wait_until(lock, deadline, [this] { return stopping; });
}

void SimServer::Impl::record(std::string_view requestName) {
    std::lock_guard lock(mutex);
    served.emplace_back(requestName);
    changed.notify_all();
}

std::size_t SimServer::Impl::countSubscribers() const {
    return static_cast<std::size_t>(
        std::count_if(connections.begin(), connections.end(),
                      [](const auto& connection) { return connection->subscribed; }));
}

void SimServer::Impl::writeLine(std::string_view peer, std::string_view text) const {
    if (log) {
        log(clockText(currentLocalTime()) + " " + std::string(peer) + " " + std::string(text));
    }
}

// ---- alarms ------------------------------------------------------------------------------

void SimServer::Impl::scheduleLoop() {
    const auto interval = std::chrono::seconds(config.alarms.intervalSeconds);
    for (Clock::time_point next = Clock::now() + interval; waitUntil(next); next += interval) {
        pushNextScheduledAlarm();
    }
}

std::optional<AlarmMessage> SimServer::Impl::pushNextScheduledAlarm() {
    std::vector<std::string> channelIds = config.alarms.channels;
    if (channelIds.empty()) {
        for (const SimChannel& channel : config.channels) {
            channelIds.push_back(channel.id);
        }
    }
    if (channelIds.empty()) {
        return std::nullopt;
    }
    std::size_t turn = 0;
    {
        std::lock_guard lock(mutex);
        turn = nextScheduled++;
    }
    const std::vector<std::string>& names = config.alarms.names;
    return pushAlarm(channelIds[turn % channelIds.size()], names[turn % names.size()]);
}

AlarmMessage SimServer::Impl::pushAlarm(std::string_view channelId, std::string_view name) {
    AlarmMessage alarm{alarmTimestamp(currentLocalTime()), std::string(name),
                       std::string(channelId)};
    if (const SimChannel* channel = config.findChannel(channelId)) {
        StoredSnapshot kept{alarm, renderSnapshot(*channel, alarm.name)};
        std::lock_guard lock(mutex);
        snapshots.push_back(std::move(kept));
        if (snapshots.size() > kKeptSnapshots) {
            snapshots.pop_front();
        }
    }
    pushAlarmMessage(alarm);
    return alarm;
}

std::size_t SimServer::Impl::pushAlarmMessage(const AlarmMessage& alarm) {
    std::vector<std::shared_ptr<Connection>> subscribers;
    {
        std::lock_guard lock(mutex);
        for (const auto& connection : connections) {
            if (connection->subscribed) {
                subscribers.push_back(connection);
            }
        }
    }
    const std::string message = alarmPushMessage(alarm);
    std::size_t reached = 0;
    for (const auto& subscriber : subscribers) {
        if (sendFrame(*subscriber, message)) {
            ++reached;
        } else {
            shutdownBoth(subscriber->socket.fd());  // its thread sees the end and finishes
        }
    }
    writeLine("alarm", alarm.name + " channel " + alarm.channelId + " " + alarm.timestamp + " -> " +
                           std::to_string(reached) + " subscriber(s)");
    return reached;
}

// ---- the public face ---------------------------------------------------------------------

SimServer::SimServer(SimConfig config, LogSink log)
    : m_impl(std::make_unique<Impl>(std::move(config), std::move(log))) {
    for (const FaultMode& fault : m_impl->config.faults) {
        m_impl->faultUsesLeft.push_back(fault.times);
    }
}

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
    Impl& impl = *m_impl;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&local), &length);
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, address, sizeof address);
    std::lock_guard lock(impl.mutex);
    if (impl.started) {
        throw std::logic_error("SimServer started twice");
    }
    impl.started = true;
    impl.boundAddress = address;
    impl.boundPort = ntohs(local.sin_port);
    impl.listener = std::move(listener);
    impl.acceptor = std::thread([&impl] { impl.acceptLoop(); });
    if (impl.config.alarms.intervalSeconds > 0) {
        impl.scheduler = std::thread([&impl] { impl.scheduleLoop(); });
    }
}

void SimServer::stop() {
    Impl& impl = *m_impl;
    {
        std::lock_guard lock(impl.mutex);
        if (!impl.started || impl.stopping) {
            return;
        }
        impl.stopping = true;
        impl.changed.notify_all();
        shutdownBoth(impl.listener.fd());
    }
    impl.acceptor.join();
    if (impl.scheduler.joinable()) {
        impl.scheduler.join();
    }
    std::list<std::shared_ptr<Connection>> remaining;
    {
        std::lock_guard lock(impl.mutex);
        remaining.swap(impl.connections);
        for (const auto& connection : remaining) {
            shutdownBoth(connection->socket.fd());
        }
    }
    for (const auto& connection : remaining) {
        connection->thread.join();
    }
}

const SimConfig& SimServer::config() const {
    return m_impl->config;
}

std::string SimServer::address() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->boundAddress;
}

std::uint16_t SimServer::port() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->boundPort;
}

AlarmMessage SimServer::pushAlarm(std::string_view channelId, std::string_view name) {
    return m_impl->pushAlarm(channelId, name);
}

std::size_t SimServer::pushAlarmMessage(const AlarmMessage& alarm) {
    return m_impl->pushAlarmMessage(alarm);
}

std::optional<AlarmMessage> SimServer::pushNextScheduledAlarm() {
    return m_impl->pushNextScheduledAlarm();
}

std::vector<std::string> SimServer::servedRequests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->served;
}

std::size_t SimServer::requestCount(std::string_view name) const {
    std::lock_guard lock(m_impl->mutex);
    return static_cast<std::size_t>(std::count(m_impl->served.begin(), m_impl->served.end(), name));
}

std::optional<int> SimServer::lastPtzCommand(std::string_view channelId) const {
    std::lock_guard lock(m_impl->mutex);
    const auto found = m_impl->lastPtz.find(std::string(channelId));
    return found == m_impl->lastPtz.end() ? std::nullopt : std::optional<int>(found->second);
}

std::optional<PtzView> SimServer::ptzView(std::string_view channelId) const {
    const SimChannel* channel = m_impl->config.findChannel(channelId);
    if (channel == nullptr || !channel->ptzEnabled()) {
        return std::nullopt;
    }
    return m_impl->currentView(channel->id);
}

std::size_t SimServer::subscriberCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->countSubscribers();
}

std::size_t SimServer::framesSent() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->streamedFrames;
}

bool SimServer::waitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, timeout,
                                    [&] { return m_impl->countSubscribers() >= count; });
}

bool SimServer::waitForRequests(std::string_view name, std::size_t count,
                                std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(
                   std::count(m_impl->served.begin(), m_impl->served.end(), name)) >= count;
    });
}

bool SimServer::waitForPtzCommand(std::string_view channelId, int code,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    const std::string key(channelId);
    return m_impl->changed.wait_for(lock, timeout, [&] {
        const auto found = m_impl->lastPtz.find(key);
        return found != m_impl->lastPtz.end() && found->second == code;
    });
}

}  // namespace krt::sim
