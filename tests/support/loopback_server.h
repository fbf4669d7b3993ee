#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/packet_framing.h"
#include "protocol/tcp_socket.h"

namespace krt::test {

// Binds a listening socket on a random address of 127.0.0.0/8 that no other test holds, so
// that tests can use the fixed server port and still run in parallel.
struct LoopbackListener {
    TcpSocket socket;
    std::string address;
};
LoopbackListener listenOnFreeLoopbackAddress(std::uint16_t port);
// A listener on exactly this loopback address, for a server that comes back where it was.
TcpSocket listenOnLoopbackAddress(const std::string& address, std::uint16_t port);

// A server on loopback that runs a script for every accepted connection, each on a thread of
// its own. Stopping (or destruction) shuts every connection down and joins every thread.
class ScriptedServer {
  public:
    using Script = std::function<void(int peer)>;

    explicit ScriptedServer(Script script, std::uint16_t port = 5500);
    // On exactly this address, e.g. that of a server it replaces.
    ScriptedServer(Script script, std::uint16_t port, const std::string& address);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    const std::string& address() const { return m_address; }
    std::uint16_t port() const { return m_port; }
    int acceptedCount() const { return m_accepted.load(); }
    void stop();

  private:
    void acceptLoop();

    Script m_script;
    TcpSocket m_listener;
    std::string m_address;
    std::uint16_t m_port;
    std::atomic<int> m_accepted{0};
    std::mutex m_mutex;
    std::vector<TcpSocket> m_peers;
    std::vector<std::thread> m_handlers;
    std::thread m_acceptor;
    bool m_stopped = false;
};

// A whole frame: header and payload.
std::string frameBytes(std::string_view payload, PktParam param = {});
// Sends the bytes in pieces of `pieceSize` with a pause after each, unbatched, so that the
// reader sees them trickle in.
bool sendInPieces(int fd, std::string_view bytes, std::size_t pieceSize,
                  std::chrono::microseconds pause = std::chrono::microseconds(200));
// Reads one whole frame and returns its payload, or nothing on a bad or short frame.
std::optional<std::string> readFramePayload(int fd);

}  // namespace krt::test
