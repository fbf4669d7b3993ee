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

// When a waiting socket call gives up: at its deadline, or as soon as its wake-up descriptor
// (a Cancellation's) becomes readable.
struct WaitLimit {
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::time_point::max();
    int wakeFd = -1;

    static WaitLimit after(std::chrono::milliseconds timeout, int wakeFd = -1) {
        return {Clock::now() + timeout, wakeFd};
    }
};

enum class WaitResult { ready, timedOut, woken };

// Waits until the socket is ready for `events` (POLLIN, POLLOUT); an error or hang-up on it
// counts as ready, so that the next call on it reports the failure.
WaitResult waitForSocket(int fd, short events, const WaitLimit& limit);

// A new TCP socket (IPv4, close-on-exec), not yet connected.
TcpSocket newTcpSocket();

// Connects the socket to address:port, giving up at the limit. The socket may be shut down
// from another thread meanwhile: the connect then fails at once. The socket is blocking again
// afterwards.
bool connectSocket(int fd, std::string_view dottedAddress, std::uint16_t port,
                   const WaitLimit& limit);

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
// The same, giving up at the limit instead.
bool sendAll(int fd, std::span<const char> bytes, const WaitLimit& limit);

// Keepalive probes on an otherwise silent connection, so that a link that died without a word
// (a router restarted, a laptop resumed) is noticed: idle 20 s, then 4 probes 5 s apart, and
// unacknowledged data gives up after as long.
struct KeepaliveTiming {
    int idle_s = 20;
    int interval_s = 5;
    int probes = 4;
    int userTimeout_ms = (20 + 5 * 4) * 1000;
};
bool enableKeepalive(int fd, const KeepaliveTiming& timing = {});

}  // namespace krt
