#pragma once

// An in-test alarm server on loopback: it answers "setalarmnotifications" and keeps that
// connection as the push connection, answers "getAlarmImage" with picture bytes, and records
// every request. It can be stopped and started again on the same address, as a restarted
// server would be.

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/tcp_socket.h"
#include "support/loopback_server.h"

namespace krt::test {

inline constexpr std::string_view kAcceptedSubscription =
    "<kmResponse><kmReturnCode>1</kmReturnCode><kmDescription>ok</kmDescription></kmResponse>";

inline constexpr std::string_view kRefusedSubscription =
    "<kmResponse><kmReturnCode>0</kmReturnCode></kmResponse>";

// The n-th picture (from 0): the start of every JPEG file, then its number.
inline std::string fakeJpeg(int n) {
    return "\xFF\xD8\xFFJPEG-" + std::to_string(n);
}

struct FakeAlarmServerScript {
    std::string subscriptionReply{kAcceptedSubscription};
    // The first this many subscriptions are answered with kRefusedSubscription instead.
    int refuseFirstSubscriptions = 0;
    // The first this many push connections are closed by the server right after the reply.
    int dropFirstSubscriptions = 0;
    // The picture for the n-th image request (from 0).
    std::function<std::string(int)> image = fakeJpeg;
};

class FakeAlarmServer {
  public:
    explicit FakeAlarmServer(FakeAlarmServerScript script = {}, const std::string& address = {})
        : m_script(std::move(script)) {
        auto serve = [this](int peer) { this->serve(peer); };
        m_server = address.empty() ? std::make_unique<ScriptedServer>(serve)
                                   : std::make_unique<ScriptedServer>(serve, 5500, address);
        m_address = m_server->address();
    }
    ~FakeAlarmServer() { stop(); }
    FakeAlarmServer(const FakeAlarmServer&) = delete;
    FakeAlarmServer& operator=(const FakeAlarmServer&) = delete;

    const std::string& address() const { return m_address; }

    // Shuts every connection and the listener down, joins every thread and frees the address.
    void stop() { m_server.reset(); }

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
        const std::string answer = number < m_script.refuseFirstSubscriptions
                                       ? std::string(kRefusedSubscription)
                                       : m_script.subscriptionReply;
        if (!sendAll(fd, frameBytes(answer))) {
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
    std::string m_address;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_subscriptions;
    std::vector<std::string> m_imageRequests;
    std::vector<int> m_openPushConnections;
    std::unique_ptr<ScriptedServer> m_server;  // last: its threads use everything above
};

}  // namespace krt::test
