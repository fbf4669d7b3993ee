#pragma once

// An in-test alarm server on loopback: it answers "setalarmnotifications" and keeps that
// connection as the push connection, answers "getAlarmImage" with picture bytes, and records
// every request. It can be stopped and started again on the same address, as a restarted
// server would be.

#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/tcp_socket.h"
#include "support/loopback_server.h"

namespace krt::test {

inline constexpr std::string_view kAcceptedSubscription =
    "<kmResponse><kmReturnCode>1</kmReturnCode><kmDescription>ok</kmDescription></kmResponse>";

struct FakeAlarmServerScript {
    std::string subscriptionReply{kAcceptedSubscription};
    // The first this many push connections are closed by the server right after the reply.
    int dropFirstSubscriptions = 0;
    // The first this many subscriptions get a lone header that does not start with "KMCS" and
    // nothing more; the connection stays open.
    int badFrameFirstSubscriptions = 0;
    // The picture for the n-th image request (from 0).
    std::function<std::string(int)> image = [](int n) { return "JPEG-" + std::to_string(n); };
};

// A listener on exactly this loopback address, for a server that comes back where it was.
inline TcpSocket listenOnLoopbackAddress(const std::string& address, std::uint16_t port) {
    TcpSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int reuse = 1;
    setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(socket.fd(), 64) != 0) {
        throw std::runtime_error("cannot listen on " + address);
    }
    return socket;
}

class FakeAlarmServer {
  public:
    explicit FakeAlarmServer(FakeAlarmServerScript script = {}, const std::string& address = {})
        : m_script(std::move(script)) {
        if (address.empty()) {
            LoopbackListener listener = listenOnFreeLoopbackAddress(5500);
            m_listener = std::move(listener.socket);
            m_address = std::move(listener.address);
        } else {
            m_listener = listenOnLoopbackAddress(address, 5500);
            m_address = address;
        }
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~FakeAlarmServer() { stop(); }
    FakeAlarmServer(const FakeAlarmServer&) = delete;
    FakeAlarmServer& operator=(const FakeAlarmServer&) = delete;

    const std::string& address() const { return m_address; }

    // Shuts every connection and the listener down and joins every thread.
    void stop() {
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
        m_listener.reset();
    }

    bool waitForSubscriptions(int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout,
                                  [&] { return subscriptionCountLocked() >= count; });
    }
    bool waitForImageRequests(int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(
            lock, timeout, [&] { return static_cast<int>(m_imageRequests.size()) >= count; });
    }
    // Waits until the client has closed every push connection but the newest.
    bool waitForOnePushConnection(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_openPushConnections.size() == 1; });
    }

    // Sends one framed payload on the newest open push connection.
    bool push(std::string_view payload) {
        std::lock_guard lock(m_mutex);
        return !m_openPushConnections.empty() &&
               sendAll(m_openPushConnections.back(), frameBytes(payload));
    }
    // Closes the newest push connection from the server's side.
    void dropPushConnection() {
        std::lock_guard lock(m_mutex);
        if (!m_openPushConnections.empty()) {
            shutdownBoth(m_openPushConnections.back());
        }
    }

    int subscriptionCount() {
        std::lock_guard lock(m_mutex);
        return subscriptionCountLocked();
    }
    std::vector<std::string> subscriptions() {
        std::lock_guard lock(m_mutex);
        return m_subscriptions;
    }
    std::vector<std::string> imageRequests() {
        std::lock_guard lock(m_mutex);
        return m_imageRequests;
    }

  private:
    int subscriptionCountLocked() const { return static_cast<int>(m_subscriptions.size()); }

    void acceptLoop() {
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
                TcpSocket refused(fd);
                return;
            }
            m_peers.emplace_back(fd);
            m_handlers.emplace_back([this, fd] {
                serve(fd);
                shutdownBoth(fd);
            });
        }
    }

    void serve(int fd) {
        const std::optional<std::string> request = readFramePayload(fd);
        if (!request) {
            return;
        }
        if (request->find("setalarmnotifications") != std::string::npos) {
            servePushConnection(fd, *request);
        } else if (request->find("getAlarmImage") != std::string::npos) {
            int number = 0;
            {
                std::lock_guard lock(m_mutex);
                number = static_cast<int>(m_imageRequests.size());
                m_imageRequests.push_back(*request);
            }
            sendAll(fd, frameBytes(m_script.image(number)));
            m_changed.notify_all();
        }
    }

    void servePushConnection(int fd, const std::string& request) {
        int number = 0;
        {
            std::lock_guard lock(m_mutex);
            number = subscriptionCountLocked();
        }
        const std::string reply = number < m_script.badFrameFirstSubscriptions
                                      ? "NOPE" + frameBytes(m_script.subscriptionReply).substr(4, 6)
                                      : frameBytes(m_script.subscriptionReply);
        if (!sendAll(fd, reply)) {
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_subscriptions.push_back(request);
            m_openPushConnections.push_back(fd);
        }
        m_changed.notify_all();
        if (number >= m_script.dropFirstSubscriptions) {
            // Held open until the client closes it or the server stops.
            char byte = 0;
            while (::recv(fd, &byte, 1, 0) > 0) {
            }
        }
        {
            std::lock_guard lock(m_mutex);
            std::erase(m_openPushConnections, fd);
        }
        m_changed.notify_all();
    }

    FakeAlarmServerScript m_script;
    TcpSocket m_listener;
    std::string m_address;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped = false;
    std::vector<TcpSocket> m_peers;
    std::vector<std::thread> m_handlers;
    std::vector<std::string> m_subscriptions;
    std::vector<std::string> m_imageRequests;
    std::vector<int> m_openPushConnections;
    std::thread m_acceptor;
};

}  // namespace krt::test
