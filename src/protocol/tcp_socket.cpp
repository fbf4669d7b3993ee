#include "protocol/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
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

bool waitForConnect(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool setTimeoutOption(int fd, int option, std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, option, &value, sizeof value) == 0;
}

}  // namespace

TcpSocket connectTcp(std::string_view dottedAddress, std::uint16_t port,
                     std::chrono::milliseconds timeout) {
    const auto address = parseIPv4(dottedAddress);
    if (!address) {
        return {};
    }
    TcpSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket.valid() || !setBlocking(socket.fd(), false)) {
        return {};
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = *address;
    peer.sin_port = htons(port);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        (errno != EINPROGRESS || !waitForConnect(socket.fd(), timeout))) {
        return {};
    }
    if (!setBlocking(socket.fd(), true)) {
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

}  // namespace krt
