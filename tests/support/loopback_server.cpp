#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <random>
#include <stdexcept>

namespace krt::test {

namespace {

bool bindAndListen(const TcpSocket& socket, const std::string& address, std::uint16_t port) {
    const int reuse = 1;
    setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    return ::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
           ::listen(socket.fd(), 64) == 0;
}

}  // namespace

TcpSocket listenOnLoopbackAddress(const std::string& address, std::uint16_t port) {
    TcpSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!bindAndListen(socket, address, port)) {
        throw std::runtime_error("cannot listen on " + address);
    }
    return socket;
}

LoopbackListener listenOnFreeLoopbackAddress(std::uint16_t port) {
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> octet(1, 254);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string address = "127." + std::to_string(octet(random)) + "." +
                                    std::to_string(octet(random)) + "." +
                                    std::to_string(octet(random));
        TcpSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (bindAndListen(socket, address, port)) {
            return {std::move(socket), address};
        }
    }
    throw std::runtime_error("no free loopback address");
}

ScriptedServer::ScriptedServer(Script script, std::uint16_t port)
    : m_script(std::move(script)), m_port(port) {
    LoopbackListener listener = listenOnFreeLoopbackAddress(port);
    m_listener = std::move(listener.socket);
    m_address = std::move(listener.address);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

ScriptedServer::ScriptedServer(Script script, std::uint16_t port, const std::string& address)
    : m_script(std::move(script)),
      m_listener(listenOnLoopbackAddress(address, port)),
      m_address(address),
      m_port(port) {
    m_acceptor = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    stop();
}

void ScriptedServer::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped) {
            return;
        }
        m_stopped = true;
        shutdownBoth(m_listener.fd());
        for (const TcpSocket& peer : m_peers) {
            shutdownBoth(peer.fd());
        }
    }
    m_acceptor.join();
    for (std::thread& handler : m_handlers) {
        handler.join();
    }
}

void ScriptedServer::acceptLoop() {
    for (;;) {
        const int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        std::lock_guard lock(m_mutex);
        if (m_stopped) {
            ::close(fd);
            return;
        }
        ++m_accepted;
        m_peers.emplace_back(fd);
        m_handlers.emplace_back([this, fd] {
            m_script(fd);
            shutdownBoth(fd);
        });
    }
}

std::string frameBytes(std::string_view payload, PktParam param) {
    std::array<std::uint8_t, kPktHeaderSize> header{};
    PacketFraming::createPktHeader(header, static_cast<std::int64_t>(payload.size()), &param);
    std::string bytes(reinterpret_cast<const char*>(header.data()), header.size());
    bytes.append(payload);
    return bytes;
}

bool sendInPieces(int fd, std::string_view bytes, std::size_t pieceSize,
                  std::chrono::microseconds pause) {
    const int noDelay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    for (std::size_t offset = 0; offset < bytes.size(); offset += pieceSize) {
        const std::string_view piece = bytes.substr(offset, pieceSize);
        if (!sendAll(fd, piece)) {
            return false;
        }
        std::this_thread::sleep_for(pause);
    }
    return true;
}

std::optional<std::string> readFramePayload(int fd) {
    PktHeader header;
    if (PacketFraming::recvPktHeader(fd, header) != HeaderStatus::Ok) {
        return std::nullopt;
    }
    std::string payload(header.payloadLength, '\0');
    std::size_t received = 0;
    PacketFraming::recvData(fd, payload, received);
    if (received != payload.size()) {
        return std::nullopt;
    }
    return payload;
}

}  // namespace krt::test
