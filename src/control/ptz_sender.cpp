#include "control/ptz_sender.h"

#include <sys/socket.h>
#include <algorithm>
#include <cerrno>

#include "protocol/packet_framing.h"
#include "protocol/requests.h"
#include "protocol/return_codes.h"

namespace krt {

const PtzButtonSpec& ptzButtonSpec(PtzButton button) {
    return *std::ranges::find(kPtzButtons, button, &PtzButtonSpec::button);
}

std::optional<int> ptzCodeForButtonEvent(int controlId, int kind) {
    if (kind == static_cast<int>(ButtonEventKind::Released)) {
        return kPtzReleaseCode;
    }
    if (kind != static_cast<int>(ButtonEventKind::Pressed)) {
        return std::nullopt;
    }
    const auto* button = std::ranges::find(kPtzButtons, controlId, &PtzButtonSpec::controlId);
    if (button == kPtzButtons.end()) {
        return std::nullopt;
    }
    return button->pressCode;
}

PtzSender::PtzSender(std::string serverAddress, int loginPort, std::string userName,
                     std::chrono::milliseconds timeout)
    : m_serverAddress(std::move(serverAddress)),
      m_loginPort(loginPort),
      m_userName(std::move(userName)),
      m_timeout(timeout) {}

bool PtzSender::connectPtz() {
    m_socket.reset();
    if (m_loginPort <= 0 || m_loginPort > 0xFFFF) {
        return false;
    }
    m_socket = connectTcp(m_serverAddress, static_cast<std::uint16_t>(m_loginPort), m_timeout);
    // The sends run on the GUI thread: a stuck server must not freeze it.
    return m_socket.valid() && setSendTimeout(m_socket.fd(), m_timeout);
}

PtzSender::SendResult PtzSender::sendPtzCommand(std::span<const VideoChannel> catalogue,
                                                int channelIndex, int code) {
    // A server that closed the connection would take one more send without complaint and
    // lose the command silently; notice it first and connect again.
    if (m_socket.valid() && !drainReplies()) {
        connectPtz();
    }
    if (!m_socket.valid()) {
        return SendResult::Dropped;
    }
    if (channelIndex < 0 || static_cast<std::size_t>(channelIndex) >= catalogue.size()) {
        return SendResult::Dropped;
    }
    const std::string request =
        ptzRequest(m_userName, catalogue[static_cast<std::size_t>(channelIndex)].ChannelID, code);
    if (PacketFraming::sendData(m_socket.fd(), request, nullptr) != kSuccess) {
        connectPtz();
        return SendResult::Lost;
    }
    return SendResult::Sent;
}

PtzSender::Link PtzSender::reconnectIfLost() {
    if (m_socket.valid() && drainReplies()) {
        return Link::Alive;
    }
    return connectPtz() ? Link::Reestablished : Link::Down;
}

bool PtzSender::drainReplies() {
    // Bounded, so that a server that never stops talking cannot hold the GUI thread here.
    constexpr int kMaxReads = 64;
    std::array<char, 4096> discard{};
    for (int read = 0; read < kMaxReads; ++read) {
        const ssize_t count = ::recv(m_socket.fd(), discard.data(), discard.size(), MSG_DONTWAIT);
        if (count > 0) {
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

}  // namespace krt
