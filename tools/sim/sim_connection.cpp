#include "sim_connection.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <algorithm>
#include <chrono>

#include "common/local_time.h"
#include "protocol/packet_framing.h"

namespace krt::sim {
namespace {

constexpr char kStartOfFrame[4] = {'K', 'M', 'C', 'S'};
constexpr char kBrokenStartOfFrame[4] = {'X', 'M', 'C', 'S'};

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

const FaultMode* findFault(const std::vector<FaultMode>& faults, FaultKind kind) {
    const auto found = std::find_if(faults.begin(), faults.end(),
                                    [kind](const FaultMode& fault) { return fault.kind == kind; });
    return found == faults.end() ? nullptr : &*found;
}

}  // namespace

void StopSignal::raise() {
    std::lock_guard lock(m_mutex);
    m_raised = true;
    m_changed.notify_all();
}

bool StopSignal::raised() const {
    std::lock_guard lock(m_mutex);
    return m_raised;
}

bool StopSignal::waitUntil(SimClock::time_point deadline) const {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_until(lock, deadline, [this] { return m_raised; });
}

void StopSignal::waitForStop() const {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_raised; });
}

std::string clockText() {
    return formatLocalTimeMs(std::chrono::system_clock::now(), "%Y-%m-%d %H:%M:%S.");
}

std::string printable(std::string_view text) {
    std::string shown(text);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; },
        '?');
    return shown;
}

void SimLogger::line(std::string_view peer, std::string_view text) const {
    if (m_sink) {
        m_sink(clockText() + " " + std::string(peer) + " " + printable(text));
    }
}

SimConnection::SimConnection(TcpSocket socket, const StopSignal& stop)
    : m_socket(std::move(socket)), m_peer(peerText(m_socket.fd())), m_stop(stop) {}

void SimConnection::applyFaults(const std::vector<FaultMode>& faults) {
    std::lock_guard lock(m_sendMutex);
    const auto fromFrame = [this](const FaultMode& fault) {
        return m_framesSent + static_cast<std::uint64_t>(fault.afterFrames);
    };
    if (const FaultMode* fault = findFault(faults, FaultKind::CloseAfterBytes)) {
        m_policy.closeAtByte = m_bytesSent + fault->bytes;
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::BadStartOfFrame)) {
        m_policy.brokenFromFrame = fromFrame(*fault);
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::ZeroLength)) {
        m_policy.zeroLengthFromFrame = fromFrame(*fault);
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::OverstatedLength)) {
        m_policy.overstatedFromFrame = fromFrame(*fault);
        m_policy.overstatedBytes = fault->bytes;
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::SilentDrop)) {
        m_policy.silentFromFrame = fromFrame(*fault);
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::Trickle)) {
        m_policy.trickle = *fault;
    }
    if (const FaultMode* fault = findFault(faults, FaultKind::PushText)) {
        m_policy.pushText = fault->text;
    }
}

bool SimConnection::sendFrame(std::string_view payload) {
    std::lock_guard lock(m_sendMutex);
    return sendLocked(payload);
}

bool SimConnection::sendFrameThen(std::string_view payload,
                                  const std::function<void()>& afterSent) {
    std::lock_guard lock(m_sendMutex);
    if (!sendLocked(payload)) {
        return false;
    }
    afterSent();
    return true;
}

bool SimConnection::cutOff() const {
    std::lock_guard lock(m_sendMutex);
    return m_policy.closeAtByte && m_bytesSent >= *m_policy.closeAtByte;
}

bool SimConnection::sendPush(std::string_view payload) {
    std::lock_guard lock(m_sendMutex);
    return sendLocked(m_policy.pushText ? std::string_view(*m_policy.pushText) : payload);
}

std::string framedBytes(std::string_view payload, const SendPolicy& policy,
                        std::uint64_t frameIndex) {
    const auto from = [frameIndex](const std::optional<std::uint64_t>& first) {
        return first && frameIndex >= *first;
    };
    const bool zeroLength = from(policy.zeroLengthFromFrame);
    std::uint64_t claimed = zeroLength ? 0 : payload.size();
    if (!zeroLength && from(policy.overstatedFromFrame)) {
        claimed = std::min<std::uint64_t>(claimed + policy.overstatedBytes, kMaxPayloadLength);
    }
    std::string frame(kStartOfFrame, sizeof kStartOfFrame);
    if (from(policy.brokenFromFrame)) {
        frame.assign(kBrokenStartOfFrame, sizeof kBrokenStartOfFrame);
    }
    frame.append(3, '\0');  // parameter bytes
    frame += static_cast<char>((claimed >> 16) & 0xFF);
    frame += static_cast<char>((claimed >> 8) & 0xFF);
    frame += static_cast<char>(claimed & 0xFF);
    if (!zeroLength) {
        frame.append(payload);
    }
    return frame;
}

void SimConnection::shutdown() const {
    std::lock_guard lock(m_socketMutex);
    if (m_socket.valid()) {
        shutdownBoth(m_socket.fd());
    }
}

void SimConnection::close() {
    shutdown();  // a push blocked in send gives the send mutex up
    std::scoped_lock lock(m_sendMutex, m_socketMutex);
    m_closed = true;
    m_socket.reset();
}

bool SimConnection::sendLocked(std::string_view payload) {
    if (!m_socket.valid()) {
        return false;
    }
    if (m_silent || (m_policy.silentFromFrame && m_framesSent >= *m_policy.silentFromFrame)) {
        m_silent = true;
        return false;
    }
    if (payload.empty() || payload.size() > kMaxPayloadLength) {
        return false;
    }
    const std::string frame = framedBytes(payload, m_policy, m_framesSent);
    std::string_view bytes = frame;
    bool cut = false;
    if (m_policy.closeAtByte) {
        const std::uint64_t allowed =
            *m_policy.closeAtByte > m_bytesSent ? *m_policy.closeAtByte - m_bytesSent : 0;
        cut = allowed < bytes.size();
        bytes = bytes.substr(
            0, static_cast<std::size_t>(std::min<std::uint64_t>(allowed, bytes.size())));
    }
    const int fd = m_socket.fd();
    bool sent = true;
    if (m_policy.trickle) {
        const FaultMode& trickle = *m_policy.trickle;
        for (std::size_t offset = 0; sent && offset < bytes.size(); offset += trickle.pieceBytes) {
            sent = sendAll(fd, bytes.substr(offset, trickle.pieceBytes)) &&
                   m_stop.waitFor(std::chrono::milliseconds(trickle.pauseMs));
        }
    } else {
        sent = sendAll(fd, bytes);
    }
    m_bytesSent += bytes.size();
    ++m_framesSent;
    if (cut) {
        shutdownBoth(fd);
    }
    return sent && !cut;
}

}  // namespace krt::sim
