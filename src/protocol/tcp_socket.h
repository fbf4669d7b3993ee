#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include <netinet/in.h>

namespace krt {

// Owns one socket descriptor and closes it when it goes.
class TcpSocket {
  public:
    TcpSocket() = default;
    explicit TcpSocket(int fd) : m_fd(fd) {}
    ~TcpSocket() { reset(); }
    TcpSocket(TcpSocket&& other) noexcept : m_fd(other.release()) {}
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int m_fd = -1;
};

// Dotted IPv4 text only: host names are not resolved.
std::optional<in_addr> parseIPv4(std::string_view dotted);

// A blocking TCP socket connected to address:port, or an invalid socket when the address is
// not dotted IPv4, the connection is refused or it is not made within the time-out.
TcpSocket connectTcp(std::string_view dottedAddress, std::uint16_t port,
                     std::chrono::milliseconds timeout);

// Bounds every later receive (or send) on the socket; zero removes the bound.
bool setReceiveTimeout(int fd, std::chrono::milliseconds timeout);
bool setSendTimeout(int fd, std::chrono::milliseconds timeout);

// Wakes any thread blocked on the socket; the descriptor stays open.
void shutdownBoth(int fd);

// Sends every byte unless the peer is gone, an error occurs or the send time-out passes.
bool sendAll(int fd, std::span<const char> bytes);

}  // namespace krt
