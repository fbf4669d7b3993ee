#include "protocol/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

namespace krt {

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int TcpSocket::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void TcpSocket::reset(int fd) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

std::optional<in_addr> parseIPv4(std::string_view dotted) {
    const std::string text(dotted);
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address;
}

namespace {

bool setBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    return fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// Milliseconds for poll(): rounded up, so that a wait never ends before its deadline, and at
// most a minute at a time.
int pollTimeout_ms(WaitLimit::Clock::time_point deadline) {
    if (deadline == WaitLimit::Clock::time_point::max()) {
        return -1;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - WaitLimit::Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
}

bool connectionError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0;
}

bool setTimeoutOption(int fd, int option, std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, option, &value, sizeof value) == 0;
}

}  // namespace

WaitResult waitForSocket(int fd, short events, const WaitLimit& limit) {
    std::array<pollfd, 2> entries{pollfd{fd, events, 0}, pollfd{limit.wakeFd, POLLIN, 0}};
    const nfds_t count = limit.wakeFd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = ::poll(entries.data(), count, pollTimeout_ms(limit.deadline));
        if (ready < 0 && errno != EINTR) {
            return WaitResult::ready;  // the call that follows reports the error
        }
        if (count == 2 && entries[1].revents != 0) {
            return WaitResult::woken;
        }
        if (ready > 0) {
            return WaitResult::ready;
        }
        if (WaitLimit::Clock::now() >= limit.deadline) {
            return WaitResult::timedOut;
        }
    }
}

TcpSocket newTcpSocket() {
    return TcpSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

bool connectSocket(int fd, std::string_view dottedAddress, std::uint16_t port,
                   const WaitLimit& limit) {
    const auto address = parseIPv4(dottedAddress);
    if (!address || !setBlocking(fd, false)) {
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = *address;
    peer.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS || waitForSocket(fd, POLLOUT, limit) != WaitResult::ready ||
            connectionError(fd)) {
            return false;
        }
    }
    return setBlocking(fd, true);
}

TcpSocket connectTcp(std::string_view dottedAddress, std::uint16_t port,
                     std::chrono::milliseconds timeout) {
    TcpSocket socket = newTcpSocket();
    if (!socket.valid() ||
        !connectSocket(socket.fd(), dottedAddress, port, WaitLimit::after(timeout))) {
        return {};
    }
    return socket;
}

bool setReceiveTimeout(int fd, std::chrono::milliseconds timeout) {
    return setTimeoutOption(fd, SO_RCVTIMEO, timeout);
}

bool setSendTimeout(int fd, std::chrono::milliseconds timeout) {
    return setTimeoutOption(fd, SO_SNDTIMEO, timeout);
}

void shutdownBoth(int fd) {
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

bool sendAll(int fd, std::span<const char> bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool sendAll(int fd, std::span<const char> bytes, const WaitLimit& limit) {
    while (!bytes.empty()) {
        if (waitForSocket(fd, POLLOUT, limit) != WaitResult::ready) {
            return false;
        }
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool enableKeepalive(int fd, const KeepaliveTiming& timing) {
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &timing.idle_s, sizeof timing.idle_s) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &timing.interval_s,
                      sizeof timing.interval_s) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &timing.probes, sizeof timing.probes) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timing.userTimeout_ms,
                      sizeof timing.userTimeout_ms) == 0;
}

}  // namespace krt
